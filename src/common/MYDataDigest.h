#pragma once

#include "common/MYSHA1Digest.h"
#include "common/MYSHA256Digest.h"

#include <QByteArray>

// Digests of a byte buffer.
class MYDataDigest
{
public:
    static MYSHA1Digest my_SHA1Digest(const QByteArray &data);
    static MYSHA256Digest my_SHA256Digest(const QByteArray &data);
};
