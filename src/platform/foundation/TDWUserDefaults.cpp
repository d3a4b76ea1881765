#include "platform/foundation/TDWUserDefaults.h"

#include "platform/foundation/TDWLog.h"
#include "platform/foundation/TDWNumber.h"
#include "platform/foundation/TDWPrivateFiles.h"
#include "platform/foundation/TDWPropertyList.h"
#include "platform/foundation/TDWSafeFile.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#include <cmath>
#include <limits>
#include <sys/stat.h>

namespace {

TDWUserDefaults *g_standard = nullptr;

void flushStandard()
{
    if (g_standard)
        g_standard->synchronize();
}

qint64 clampToInteger(double d)
{
    if (std::isnan(d))
        return 0;
    // 2^63 is exactly representable; anything at or past it would overflow the cast.
    if (d >= 9223372036854775808.0)
        return std::numeric_limits<qint64>::max();
    if (d <= -9223372036854775808.0)
        return std::numeric_limits<qint64>::min();
    return qint64(d);
}

} // namespace

TDWUserDefaults *TDWUserDefaults::standard()
{
    static TDWUserDefaults *instance = [] {
        const QString folder = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
        auto *defaults = new TDWUserDefaults(QDir(folder).filePath(QStringLiteral("Tidewell/defaults.plist")));
        // Scheduled writes run on the main thread, whichever thread asked first.
        if (QCoreApplication *app = QCoreApplication::instance()) {
            defaults->moveToThread(app->thread());
            g_standard = defaults;
            qAddPostRoutine(flushStandard);
        }
        return defaults;
    }();
    return instance;
}

TDWUserDefaults::TDWUserDefaults(const QString &path, QObject *parent)
    : QObject(parent), m_path(path)
{
    m_stamp = stampOf(m_path);
    m_stored = load();
}

TDWUserDefaults::~TDWUserDefaults()
{
    bool pending;
    {
        std::lock_guard lock(m_mutex);
        pending = !m_pending.isEmpty();
    }
    if (pending)
        synchronize();
}

QString TDWUserDefaults::path() const
{
    return m_path;
}

TDWUserDefaults::FileStamp TDWUserDefaults::stampOf(const QString &path)
{
    struct stat st;
    if (::stat(QFile::encodeName(path).constData(), &st) != 0)
        return {};
    return {true, st.st_ino, st.st_size, qint64(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec};
}

QVariantMap TDWUserDefaults::load()
{
    m_corrupt = false;
    if (!QFileInfo::exists(m_path))
        return {};
    TDWError error;
    const QVariant value = TDWPropertyList::readFile(m_path, &error);
    if (value.typeId() == QMetaType::QVariantMap)
        return value.toMap();
    if (value.isValid())
        error = TDWPropertyListError::make(TDWPropertyListError::Corrupt, QStringLiteral("the file does not hold a dictionary"));
    // Kept as it is until a setter gives us something to write; then a copy is kept aside.
    m_corrupt = true;
    tdwLog(QStringLiteral("ERROR: Unable to read the user defaults at %1: %2").arg(m_path, error.localizedDescription()));
    return {};
}

void TDWUserDefaults::registerDefaults(const QVariantMap &defaults)
{
    std::lock_guard lock(m_mutex);
    m_registered.insert(defaults);
}

QVariant TDWUserDefaults::objectForKey(const QString &key) const
{
    std::lock_guard lock(m_mutex);
    auto it = m_stored.constFind(key);
    if (it != m_stored.constEnd())
        return *it;
    return m_registered.value(key);
}

QString TDWUserDefaults::stringForKey(const QString &key) const
{
    const QVariant v = objectForKey(key);
    return v.typeId() == QMetaType::QString ? v.toString() : QString();
}

bool TDWUserDefaults::boolForKey(const QString &key) const
{
    const QVariant v = objectForKey(key);
    if (v.typeId() == QMetaType::QString) {
        const QString s = v.toString().trimmed();
        return s.compare(u"yes", Qt::CaseInsensitive) == 0 || s.compare(u"true", Qt::CaseInsensitive) == 0 || integerForKey(key) != 0;
    }
    if (const std::optional<TDWNumber> number = TDWNumber::of(v); number && !number->isInteger())
        return number->toDouble() != 0.0;
    return integerForKey(key) != 0;
}

qint64 TDWUserDefaults::integerForKey(const QString &key) const
{
    const QVariant v = objectForKey(key);
    if (const std::optional<TDWNumber> number = TDWNumber::of(v)) {
        if (!number->isInteger())
            return clampToInteger(number->toDouble());
        // Only an unsigned value above the signed range has no signed form.
        return number->toSigned().value_or(std::numeric_limits<qint64>::max());
    }
    if (v.typeId() == QMetaType::QString) {
        bool ok = false;
        const QString s = v.toString().trimmed();
        const qint64 n = s.toLongLong(&ok);
        if (ok)
            return n;
        const double d = s.toDouble(&ok);
        return ok ? clampToInteger(d) : 0;
    }
    return 0;
}

double TDWUserDefaults::doubleForKey(const QString &key) const
{
    const QVariant v = objectForKey(key);
    if (const std::optional<TDWNumber> number = TDWNumber::of(v))
        return number->toDouble();
    if (v.typeId() == QMetaType::QString) {
        bool ok = false;
        const double d = v.toString().trimmed().toDouble(&ok);
        return ok ? d : 0.0;
    }
    return 0.0;
}

QDateTime TDWUserDefaults::dateForKey(const QString &key) const
{
    const QVariant v = objectForKey(key);
    return v.typeId() == QMetaType::QDateTime ? v.toDateTime() : QDateTime();
}

QVariantMap TDWUserDefaults::dictionaryForKey(const QString &key) const
{
    const QVariant v = objectForKey(key);
    return v.typeId() == QMetaType::QVariantMap ? v.toMap() : QVariantMap();
}

QVariantList TDWUserDefaults::arrayForKey(const QString &key) const
{
    const QVariant v = objectForKey(key);
    return v.typeId() == QMetaType::QVariantList || v.typeId() == QMetaType::QStringList ? v.toList() : QVariantList();
}

QStringList TDWUserDefaults::stringArrayForKey(const QString &key) const
{
    QStringList strings;
    for (const QVariant &item : arrayForKey(key)) {
        if (item.typeId() != QMetaType::QString)
            return {};
        strings.append(item.toString());
    }
    return strings;
}

void TDWUserDefaults::setObject(const QVariant &value, const QString &key)
{
    if (!value.isValid()) {
        removeObjectForKey(key);
        return;
    }
    // Through the file format and back: the value is then exactly what a
    // later run reads, and one that cannot be written never blocks saving.
    TDWError error;
    const QByteArray xml = TDWPropertyList::write(value, &error);
    const QVariant normalized = xml.isEmpty() ? QVariant() : TDWPropertyList::read(xml, &error);
    if (!normalized.isValid()) {
        tdwLog(QStringLiteral("ERROR: Unable to store the user defaults value for \"%1\": %2").arg(key, error.localizedDescription()));
        return;
    }
    store(key, normalized);
}

void TDWUserDefaults::setBool(bool value, const QString &key)
{
    store(key, value);
}

void TDWUserDefaults::setInteger(qint64 value, const QString &key)
{
    store(key, QVariant::fromValue(value));
}

void TDWUserDefaults::setDouble(double value, const QString &key)
{
    store(key, value);
}

void TDWUserDefaults::setString(const QString &value, const QString &key)
{
    setObject(value, key);
}

void TDWUserDefaults::removeObjectForKey(const QString &key)
{
    store(key, QVariant());
}

void TDWUserDefaults::store(const QString &key, const QVariant &value)
{
    bool schedule;
    {
        std::lock_guard lock(m_mutex);
        if (value.isValid())
            m_stored.insert(key, value);
        else
            m_stored.remove(key);
        m_pending.insert(key, ++m_sequence);
        schedule = !m_writeScheduled;
        m_writeScheduled = true;
    }
    if (schedule)
        scheduleWrite();
    emit changed(key);
}

void TDWUserDefaults::scheduleWrite()
{
    QMetaObject::invokeMethod(
        this,
        [this] {
            {
                std::lock_guard lock(m_mutex);
                m_writeScheduled = false;
            }
            synchronize();
        },
        Qt::QueuedConnection);
}

bool TDWUserDefaults::synchronize()
{
    std::unique_lock fileLock(m_fileMutex);
    QStringList externalChanges;
    QVariantMap snapshot;
    QHash<QString, quint64> written;

    const FileStamp stamp = stampOf(m_path);
    const bool reread = !(stamp == m_stamp);
    QVariantMap base = reread ? load() : QVariantMap();
    m_stamp = stamp;
    {
        std::lock_guard lock(m_mutex);
        if (reread) {
            // Our unwritten changes win over the file's.
            for (auto it = m_pending.constBegin(); it != m_pending.constEnd(); ++it) {
                auto ours = m_stored.constFind(it.key());
                if (ours != m_stored.constEnd())
                    base.insert(it.key(), *ours);
                else
                    base.remove(it.key());
            }
            QStringList keys = m_stored.keys() + base.keys();
            keys.removeDuplicates();
            for (const QString &key : keys) {
                if (m_stored.value(key) != base.value(key))
                    externalChanges.append(key);
            }
            m_stored = base;
        }
        snapshot = m_stored;
        written = m_pending;
    }

    bool ok = true;
    if (!written.isEmpty()) {
        TDWError error;
        TDWPrivateFiles::makeFolder(QFileInfo(m_path).absolutePath());
        if (m_corrupt && QFileInfo::exists(m_path)) {
            // Never replace the unreadable file without keeping it aside.
            const QString corruptCopy = m_path + QStringLiteral(".corrupt");
            ok = TDWSafeFile::copy(QFileInfo(m_path).canonicalFilePath(), corruptCopy, nullptr, TDWPrivateFiles::FileMode);
            if (!ok)
                error = TDWPropertyListError::make(TDWPropertyListError::FileWrite,
                                                   QStringLiteral("could not keep a copy of the unreadable file at %1").arg(corruptCopy));
        }
        // The settings name the user's accounts: theirs alone.
        ok = ok && TDWPropertyList::writeFile(snapshot, m_path, &error, TDWPrivateFiles::FileMode);
        if (ok) {
            m_corrupt = false;
            m_stamp = stampOf(m_path);
            std::lock_guard lock(m_mutex);
            for (auto it = written.constBegin(); it != written.constEnd(); ++it) {
                if (m_pending.value(it.key()) == it.value())
                    m_pending.remove(it.key());
            }
        } else {
            tdwLog(QStringLiteral("ERROR: Unable to save the user defaults to %1: %2").arg(m_path, error.localizedDescription()));
        }
    }
    fileLock.unlock();

    for (const QString &key : externalChanges)
        emit changed(key);
    return ok;
}

QVariantMap TDWUserDefaults::dictionaryRepresentation() const
{
    std::lock_guard lock(m_mutex);
    QVariantMap all = m_registered;
    all.insert(m_stored);
    return all;
}
