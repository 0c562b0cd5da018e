#pragma once

// libxlsxwriter compresses every part of a workbook at zlib's default level
// and offers no setting for it. While a DeflateLevel lives, zlib streams
// that the calling thread starts use the given level instead: the workbook
// writer asks for the fastest one, which packs a large sheet about twice as
// fast for a file about a fifth larger. Other threads, and this one before
// and after, keep the level they ask for.

namespace qinglan {

class DeflateLevel {
public:
    explicit DeflateLevel(int level);
    ~DeflateLevel();
    DeflateLevel(const DeflateLevel&) = delete;
    DeflateLevel& operator=(const DeflateLevel&) = delete;

private:
    int previous_;
};

}  // namespace qinglan
