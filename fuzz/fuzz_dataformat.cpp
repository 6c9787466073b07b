// Any bytes given to the reader: it loads them or throws one of its three errors, never
// crashes, reads out of bounds or allocates a declared length. What it loads must be written
// and read back unchanged.
#include "dataformat.h"
#include "recordstore.h"
#include "registererror.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    RecordStore store;
    try {
        DataFormat::read(store, reinterpret_cast<const char*>(data), qint64(size));
    } catch (const RegisterError& e) {
        const QString m = e.message();
        if (m != QLatin1String("Stream read error") && m != QLatin1String("Invalid stream format")
            && m != QLatin1String("Invalid property value"))
            std::abort();
    }
    // Records kept before an error count as loaded too.
    const QByteArray written = DataFormat::write(store);
    RecordStore again;
    if (DataFormat::read(again, written) != written.size() || again.rows() != store.rows())
        std::abort();
    return 0;
}
