#include "frame.h"

namespace DeviceOps {

QByteArray frame(std::initializer_list<int> bytes)
{
    QByteArray f;
    f.reserve(int(bytes.size()));
    for (int b : bytes)
        f.append(char(b));
    return f;
}

} // namespace DeviceOps
