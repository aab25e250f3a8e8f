#pragma once
// Integer conversions of the texts an operator types (ports, addresses, numbers).
#include <stdexcept>
#include <string>

// The one error the connection layer raises: a text that is not a valid integer. Its message reads
// "'abc' is not a valid integer value", as operators know it.
class EConvertError : public std::runtime_error {
public:
    explicit EConvertError(const std::string& text);
};

// The whole text as a decimal integer: optional blanks before, an optional sign, digits, and
// nothing else; the value must fit in 32 bits. Anything else throws EConvertError.
int StrToInt(const std::string& text);

// The leading decimal integer of a text, as the C library reads one: leading white space skipped,
// an optional sign, digits up to the first non-digit; no digits gives 0. Saturates at the int range.
long LeadingInt(const std::string& text);
