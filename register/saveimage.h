#pragma once

#include "register/recordstore.h"

#include <QByteArray>

#include <vector>

// The data file's bytes as the last save wrote them, kept with where each record ends, so that
// the next save encodes only the records changed since and moves the rest as bytes.
class SaveImage final
{
public:
    // Brings the image up to the register. [*from, *to) covers every byte that may differ from
    // the image of the last update; the whole image when there was none. Throws RegisterError
    // on a closed register.
    void update(RecordStore& store, qint64* from, qint64* to);
    const QByteArray& bytes() const { return m_bytes; }
    // The next update encodes the whole register: the file may no longer hold the image.
    void clear();

private:
    QByteArray m_bytes;
    std::vector<quint32> m_ends; // see DataFormat::write
    quint64 m_mark = 0;
};
