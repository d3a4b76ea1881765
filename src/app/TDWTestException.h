#pragma once

#include <stdexcept>

// Raised on request by the maintenance command that checks how the program
// goes down on an exception nothing catches.
class TDWTestException : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};
