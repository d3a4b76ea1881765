#include "common/MYDataDigest.h"

MYSHA1Digest MYDataDigest::my_SHA1Digest(const QByteArray &data)
{
    return MYSHA1Digest::digestOfData(data);
}

MYSHA256Digest MYDataDigest::my_SHA256Digest(const QByteArray &data)
{
    return MYSHA256Digest::digestOfData(data);
}
