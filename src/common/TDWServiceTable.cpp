#include "common/TDWServiceTable.h"

#include "common/TDWServiceTableError.h"
#include "common/TDWSettingsKeys.h"
#include "platform/foundation/TDWLog.h"
#include "platform/foundation/TDWPropertyList.h"
#include "platform/foundation/TDWResources.h"
#include "platform/foundation/TDWUserDefaults.h"
#include "platform/xml/TDWXMLDocument.h"

#include <QFile>

namespace {

// Entries keyed by their "id"; a later entry with the same id replaces an earlier one.
QHash<QString, QVariantMap> indexById(const QVariantList &entries)
{
    QHash<QString, QVariantMap> byId;
    for (const QVariant &entry : entries) {
        const QVariantMap map = entry.toMap();
        const QString id = map.value(QStringLiteral("id")).toString();
        if (!id.isEmpty())
            byId.insert(id, map);
    }
    return byId;
}

// The value element that follows a dictionary's <key> of that name; null when none.
TDWXMLElement plistValue(const TDWXMLElement &dict, const QString &key)
{
    bool found = false;
    for (const TDWXMLElement child : dict.children()) {
        if (found)
            return child;
        found = child.hasName("key") && child.stringValue() == key;
    }
    return {};
}

// Each document type's export types in the order the file lists them: the
// dictionaries read from property lists do not keep their keys' order.
QHash<QString, QStringList> exportTypesInFileOrder(const QString &path)
{
    QFile file(path);
    TDWXMLDocument document;
    if (!file.open(QIODevice::ReadOnly) || !document.parse(file.readAll()))
        return {};
    QHash<QString, QStringList> byId;
    const TDWXMLElement docTypes = plistValue(document.rootElement().firstChildNamed("dict"), QStringLiteral("doctypes"));
    if (docTypes.isNull())
        return {};
    for (const TDWXMLElement docType : docTypes.childrenNamed("dict")) {
        const TDWXMLElement exports = plistValue(docType, QStringLiteral("exports"));
        if (exports.isNull())
            continue;
        QStringList types;
        for (const TDWXMLElement key : exports.childrenNamed("key"))
            types.append(key.stringValue());
        byId.insert(plistValue(docType, QStringLiteral("id")).stringValue(), types);
    }
    return byId;
}

} // namespace

TDWServiceTable::TDWServiceTable()
{
    publish(std::make_unique<const Data>());
}

TDWServiceTable &TDWServiceTable::shared()
{
    // Never destroyed: worker threads may still read it while the program exits.
    static TDWServiceTable *table = [] {
        auto *loaded = new TDWServiceTable;
        loaded->load(TDWResources::path(QStringLiteral("Config"), QStringLiteral("plist")), nullptr);
        return loaded;
    }();
    return *table;
}

bool TDWServiceTable::load(const QString &path, TDWError *error)
{
    TDWError readError;
    const QVariant root = TDWPropertyList::readFile(path, &readError);
    if (readError.isNull() && root.typeId() != QMetaType::QVariantMap)
        readError = TDWServiceTableError::make(TDWServiceTableError::NotADictionary, QStringLiteral("The service table is not a dictionary."));
    if (!readError.isNull()) {
        publish(std::make_unique<const Data>());
        tdwLog(QStringLiteral("ERROR: Unable to read the service table at %1: %2").arg(path, readError.localizedDescription()));
        tdwSetError(error, readError);
        return false;
    }
    std::unique_ptr<Data> data = derive(root.toMap());
    const QHash<QString, QStringList> ordered = exportTypesInFileOrder(path);
    for (auto it = ordered.cbegin(); it != ordered.cend(); ++it)
        if (data->exportTypesById.value(it.key()).size() == it->size())
            data->exportTypesById.insert(it.key(), *it);
    publish(std::move(data));
    return true;
}

std::unique_ptr<TDWServiceTable::Data> TDWServiceTable::derive(const QVariantMap &config)
{
    auto data = std::make_unique<Data>();
    data->config = config;
    for (const QVariant &entry : config.value(QStringLiteral("services")).toList()) {
        TDWServiceConfig service(entry.toMap());
        if (!service.id.isEmpty())
            data->servicesById.insert(service.id, service);
        data->services.append(std::move(service));
    }
    data->docTypes = config.value(QStringLiteral("doctypes")).toList();
    data->docTypesById = indexById(data->docTypes);
    for (auto it = data->docTypesById.cbegin(); it != data->docTypesById.cend(); ++it) {
        const QStringList types = it->value(QStringLiteral("exports")).toMap().keys();
        if (!types.isEmpty())
            data->exportTypesById.insert(it.key(), types);
    }
    for (const QVariant &entry : config.value(QStringLiteral("specialmaillabels")).toList()) {
        const TDWSpecialMailLabel label(entry.toMap());
        if (label.forced)
            data->forcedMailLabels.append(label);
        if (label.required)
            data->requiredMailLabels.append(label);
        data->specialMailLabels.append(label);
    }
    return data;
}

void TDWServiceTable::publish(std::unique_ptr<const Data> data)
{
    std::lock_guard lock(m_publishMutex);
    m_current.store(data.get(), std::memory_order_release);
    m_published.push_back(std::move(data));
}

const TDWServiceTable::Data &TDWServiceTable::data() const
{
    return *m_current.load(std::memory_order_acquire);
}

QVariantMap TDWServiceTable::getConfig() const
{
    return data().config;
}

QList<TDWServiceConfig> TDWServiceTable::serviceConfigs() const
{
    return data().services;
}

TDWServiceConfig TDWServiceTable::serviceConfig(const QString &serviceId) const
{
    return data().servicesById.value(serviceId);
}

QVariantList TDWServiceTable::docTypeConfigs() const
{
    return data().docTypes;
}

QVariantMap TDWServiceTable::docTypeConfig(const QString &docType) const
{
    return data().docTypesById.value(docType);
}

QStringList TDWServiceTable::exportTypes(const QString &docType) const
{
    return data().exportTypesById.value(docType);
}

QList<TDWSpecialMailLabel> TDWServiceTable::specialMailLabels() const
{
    return data().specialMailLabels;
}

QList<TDWSpecialMailLabel> TDWServiceTable::forcedMailLabels() const
{
    return data().forcedMailLabels;
}

QList<TDWSpecialMailLabel> TDWServiceTable::requiredMailLabels() const
{
    return data().requiredMailLabels;
}

QVariantMap TDWServiceTable::getThrottleLevel() const
{
    QString name = TDWUserDefaults::standard()->stringForKey(TDWSettingsKeys::ThrottleLevel);
    if (name.isEmpty())
        name = QStringLiteral("moderate");
    return data().config.value(QStringLiteral("throttlelevels")).toMap().value(name).toMap();
}
