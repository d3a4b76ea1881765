#pragma once

#include "platform/keychain/TDWKeyringBackend.h"

#include <QByteArray>

#include <memory>

// The store that keeps the program's secrets. It is chosen at first use: the
// environment variable TDW_KEYRING forces "secret-service" or "file";
// otherwise the desktop's Secret Service when one answers, else the file
// store in the data folder.
namespace TDWKeyring {

std::shared_ptr<TDWKeyringBackend> backend();

// Replaces the store for every later use (tests); an empty pointer makes the
// next use choose again.
void setBackend(std::shared_ptr<TDWKeyringBackend> backend);

// The store that a TDW_KEYRING value names; an empty or unknown value
// (the latter logged) asks the session bus.
std::shared_ptr<TDWKeyringBackend> makeBackend(const QByteArray &choice);

} // namespace TDWKeyring
