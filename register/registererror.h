#pragma once

#include "error/messageerror.h"

// An error of the register or its data file ("Stream read error", "Invalid stream format", ...).
class RegisterError final : public MessageError
{
public:
    using MessageError::MessageError;
};
