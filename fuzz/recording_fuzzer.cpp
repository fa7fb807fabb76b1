// SPDX-FileCopyrightText: The KvSystem2 authors
// SPDX-License-Identifier: MIT

// libFuzzer target: a recording read as the library streams it from its
// file. The first four bytes give the sizes the reads come in (0: as much
// as asked, 255: a read interrupted by a signal first), the fifth how often
// the rest, the file after its header, repeats, so that small inputs make
// large files. However the file comes in, the result is the one of reading
// it at once: the same scenario accepted, or the same fault named.

#include "backends/simulated/scenario.h"

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstring>

using namespace Vorna::Backend;

namespace {

void check(bool condition)
{
    if (!condition)
        __builtin_trap();
}

// The file after its header: body, count times.
class File
{
public:
    File(const QByteArray &body, int count, const uint8_t *sizes)
        : body(body)
        , total(qint64(body.size()) * count)
        , sizes(sizes)
    { }

    qint64 read(char *into, qint64 size)
    {
        const uint8_t piece = sizes ? sizes[reads++ % 4] : 0;
        if (piece == 255 && !interrupted) {
            interrupted = true;
            errno = EINTR;
            return -1;
        }
        interrupted = false;
        qint64 n = std::min(size, total - at);
        // Not under a thousandth of the file: a line in a thousand pieces
        // is looked through a thousand times, which regular files (read in
        // MiB) never make.
        if (piece != 0 && piece != 255)
            n = std::min<qint64>(n, std::max<qint64>(piece, total / 1024));
        for (qint64 done = 0; done < n;) {
            const qint64 from = (at + done) % body.size();
            const qint64 chunk = std::min(n - done, body.size() - from);
            std::memcpy(into + done, body.constData() + from, size_t(chunk));
            done += chunk;
        }
        at += n;
        return n;
    }

private:
    const QByteArray body;
    const qint64 total;
    const uint8_t *const sizes;
    qint64 at = 0;
    int reads = 0;
    bool interrupted = false;
};

std::optional<Scenario> parse(File &file, QString *error)
{
    return parseRecording([&](char *into, qint64 size) { return file.read(into, size); }, error);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 6)
        return 0;
    const QByteArray body(reinterpret_cast<const char *>(data) + 5, int(size - 5));
    const int count = 1 + data[4] % 16;
    File pieces(body, count, data);
    File whole(body, count, nullptr);
    QString piecesError, wholeError;
    const bool piecesOk = bool(parse(pieces, &piecesError));
    const bool wholeOk = bool(parse(whole, &wholeError));
    check(piecesOk == wholeOk && piecesError == wholeError);
    check(piecesOk == piecesError.isEmpty());
    return 0;
}
