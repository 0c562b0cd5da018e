#pragma once

// A behaviour of the sample marketplace as its command line writes it, so
// that scripts can serve a folder with misbehaving resources:
//
//   KEY=WHAT[,WHAT...]   e.g. card/huge01=endless, card/slow01=trickle:1:900
//
// where each WHAT is one of
//   delay:MS           wait MS milliseconds before answering
//   trickle:BYTES:MS   send the body BYTES at a time, MS milliseconds apart
//   endless            send the body over and over, never ending
//   never              read the request, never answer
//   status:CODE        answer CODE with the resource's body
//   fail:TIMES:CODE    answer CODE to the first TIMES requests, then as set
//   blocked:TIMES      answer the next TIMES requests with the verification
//                      page, then as set, so a client can see a block lift
//
// A text with any fault is refused whole, with the reason; nothing of it is
// half applied.

#include <string>
#include <string_view>

#include "tools/sample_marketplace.h"

namespace qinglan {

bool parse_behaviour_option(std::string_view text, std::string* key, Behaviour* behaviour,
                            std::string* error);

// A number of milliseconds from 0 to one hour, as --delay-ms and the
// behaviours take it.
bool parse_milliseconds(std::string_view text, int* ms);

}  // namespace qinglan
