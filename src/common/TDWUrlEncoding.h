#pragma once

#include <QString>

// Percent-encoding of text for URL query values.
class TDWUrlEncoding
{
public:
    // The UTF-8 bytes of the string, with every byte except letters, digits
    // and "-", ".", "_", "~" written as "%XX" (upper-case hex): besides the
    // characters a URL cannot hold, all of "!*'();:@&=+$,/?%#[]" and the space.
    static QString stringByUrlEncoding(const QString &string);
};
