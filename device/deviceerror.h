#pragma once

#include "error/messageerror.h"

// The error of every failed controller exchange.
class DeviceError final : public MessageError
{
public:
    using MessageError::MessageError;
};
