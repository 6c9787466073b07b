#pragma once

#include <QByteArray>

#include <initializer_list>

namespace DeviceOps {

// A request frame from its bytes, each given as a number 0..255.
QByteArray frame(std::initializer_list<int> bytes);

constexpr char Ack = 'U';

} // namespace DeviceOps
