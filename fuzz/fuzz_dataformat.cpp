// Any bytes given to the reader: it loads them or throws one of its three errors, never
// crashes, reads out of bounds or allocates a declared length. What it loads must be written
// and read back unchanged. Read as a file is read, in short pieces, the same bytes give the
// same records, the same error and the same length taken.
#include "register/dataformat.h"
#include "register/recordstore.h"
#include "register/registererror.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    RecordStore store;
    QString error;
    qint64 taken = -1;
    try {
        taken = DataFormat::read(store, reinterpret_cast<const char*>(data), qint64(size));
    } catch (const RegisterError& e) {
        error = e.message();
        if (error != QLatin1String("Stream read error") && error != QLatin1String("Invalid stream format")
            && error != QLatin1String("Invalid property value"))
            std::abort();
    }
    RecordStore pieces;
    QString piecesError;
    qint64 piecesTaken = -1;
    size_t at = 0;
    const DataFormat::Fetch fetch = [&](char* buffer, qint64 max) {
        const size_t n = std::min<size_t>({size - at, size_t(max), 1 + at % 13});
        std::memcpy(buffer, data + at, n);
        at += n;
        return qint64(n);
    };
    try {
        piecesTaken = DataFormat::read(pieces, fetch);
    } catch (const RegisterError& e) {
        piecesError = e.message();
    }
    if (piecesError != error || piecesTaken != taken || pieces.rows() != store.rows())
        std::abort();
    // Records kept before an error count as loaded too.
    const QByteArray written = DataFormat::write(store);
    RecordStore again;
    if (DataFormat::read(again, written) != written.size() || again.rows() != store.rows())
        std::abort();
    return 0;
}
