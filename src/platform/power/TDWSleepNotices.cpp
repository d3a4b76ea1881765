#include "platform/power/TDWSleepNotices.h"

TDWSleepNotices::TDWSleepNotices(QObject *parent)
    : QObject(parent)
{
}

TDWSleepNotices::~TDWSleepNotices() = default;
