#pragma once

#include "common/TDWServiceConfig.h"
#include "common/TDWSpecialMailLabel.h"
#include "platform/foundation/TDWError.h"

#include <QList>

#include <QHash>
#include <QString>
#include <QStringList>
#include <QVariantList>
#include <QVariantMap>

#include <atomic>
#include <memory>
#include <mutex>
#include <vector>

// The service table: which services exist, where their lists are fetched,
// which classes handle them, how their items are labelled, Gmail's special
// folders and retrieval rates. Read once from the "Config" resource; every
// part of the program asks it instead of holding its own constants.
//
// A loaded table is never changed, only replaced as a whole, so any thread
// may read it without a lock. Replaced tables are kept until the object goes
// away (a reader may still be using one); the program loads its table once.
// An empty map, list or record stands for "none". The services and the
// special mail labels are read into records once, when the table loads.
class TDWServiceTable
{
public:
    TDWServiceTable();
    TDWServiceTable(const TDWServiceTable &) = delete;
    TDWServiceTable &operator=(const TDWServiceTable &) = delete;

    // The program's table, loaded from the "Config" resource on first use.
    static TDWServiceTable &shared();

    // Replaces the table with the property list at `path`. On failure the
    // table becomes empty, so every lookup answers empty.
    bool load(const QString &path, TDWError *error);

    QVariantMap getConfig() const;
    QList<TDWServiceConfig> serviceConfigs() const;
    TDWServiceConfig serviceConfig(const QString &serviceId) const;
    QVariantList docTypeConfigs() const;
    QVariantMap docTypeConfig(const QString &docType) const;
    // The export types of the document type's "exports", in the order the
    // table lists them (the first is the one a revision takes); empty for none.
    QStringList exportTypes(const QString &docType) const;
    QList<TDWSpecialMailLabel> specialMailLabels() const;
    QList<TDWSpecialMailLabel> forcedMailLabels() const;
    QList<TDWSpecialMailLabel> requiredMailLabels() const;

    // The Gmail retrieval rate named by the user default "ThrottleLevel"
    // ("moderate" when unset), read afresh on every call; empty when the
    // table has no level of that name.
    QVariantMap getThrottleLevel() const;

private:
    struct Data
    {
        QVariantMap config;
        QList<TDWServiceConfig> services;
        QHash<QString, TDWServiceConfig> servicesById;
        QVariantList docTypes;
        QHash<QString, QVariantMap> docTypesById;
        QHash<QString, QStringList> exportTypesById;
        QList<TDWSpecialMailLabel> specialMailLabels;
        QList<TDWSpecialMailLabel> forcedMailLabels;
        QList<TDWSpecialMailLabel> requiredMailLabels;
    };

    static std::unique_ptr<Data> derive(const QVariantMap &config);
    void publish(std::unique_ptr<const Data> data);
    const Data &data() const;

    std::atomic<const Data *> m_current = nullptr;
    std::mutex m_publishMutex;
    std::vector<std::unique_ptr<const Data>> m_published;
};
