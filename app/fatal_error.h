#pragma once

// The guard of the windows' index lookups: a lookup outside its list is a
// fault of the program itself, so it is shown in the error dialog and the
// program ends with exit status -1.

#include <QString>

namespace qinglan {

class Dialogs;

enum RuntimeErrorCode : int {
    kIndexBeyondEnd = 1,  // an index greater than the number of elements
    kIndexBelowOne = 4,   // an index below 1
};

// "运行时出错!", then the code and the message, each after an empty line;
// no code line for code 0, no message line for an empty message.
QString runtime_error_text(int code, const QString& message);

// The message of a code (empty for codes it does not know).
QString runtime_error_message(int code);

// Shows the error dialog (caption "错误", the error icon) and ends the
// process with exit status -1. Never returns.
[[noreturn]] void raise_runtime_error(Dialogs& dialogs, int code, const QString& message);

// Returns when 1 <= index <= count; otherwise raises error 4 (below 1,
// tested first) or 1.
void check_index(Dialogs& dialogs, long long index, long long count);

}  // namespace qinglan
