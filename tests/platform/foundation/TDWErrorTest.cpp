#include "platform/foundation/TDWError.h"

#include <gtest/gtest.h>

TEST(TDWError, DescriptionComesFromUserInfoOrNamesDomainAndCode)
{
    const TDWError described = TDWError::withDescription(QStringLiteral("Tidewell"), 7, QStringLiteral("Disk full"));
    EXPECT_EQ(described.localizedDescription(), QStringLiteral("Disk full"));
    EXPECT_EQ(described.description(), QStringLiteral("Error Domain=Tidewell Code=7 \"Disk full\""));

    const TDWError bare(QStringLiteral("Tidewell"), 3);
    EXPECT_TRUE(bare.localizedDescription().contains(QStringLiteral("Tidewell error 3")));
    EXPECT_FALSE(bare.isNull());
    EXPECT_TRUE(TDWError().isNull());
}

TEST(TDWError, OutParameterIsOptional)
{
    tdwSetError(nullptr, TDWError(QStringLiteral("x"), 1));
    TDWError out;
    tdwSetError(&out, TDWError(QStringLiteral("x"), 1));
    EXPECT_EQ(out.code(), 1);
}
