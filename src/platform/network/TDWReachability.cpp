#include "platform/network/TDWReachability.h"

TDWReachability::TDWReachability(QObject *parent)
    : QObject(parent)
{
}

TDWReachability::~TDWReachability() = default;
