#include "services/TDWDocListParser.h"

#include "platform/foundation/TDWLog.h"
#include "services/GDataDateTime.h"

#include <QCoreApplication>
#include <QStringDecoder>

namespace {

const QString kKindScheme = QStringLiteral("http://schemas.google.com/g/2005#kind");
const QString kStarredLabel = QStringLiteral("http://schemas.google.com/g/2005/labels#starred");
const QString kHiddenLabel = QStringLiteral("http://schemas.google.com/g/2005/labels#hidden");
const QString kDocsParentRelation = QStringLiteral("http://schemas.google.com/docs/2007#parent");
const QString kContactsPhotoRelation = QStringLiteral("http://schemas.google.com/contacts/2008/rel#photo");
const QString kReaderScheme = QStringLiteral("http://www.google.com/reader/");
const QString kOldCalendarFeedPrefix = QStringLiteral("http://www.google.com/calendar/feeds/default/calendars/");
const QString kPicasaPrefix = QStringLiteral("https://picasaweb.google.com/");
const QString kSportsCalendarSuffix = QStringLiteral("#sports@group.v.calendar.google.com");

QString orNull(const QString &value)
{
    return value.isNull() ? QStringLiteral("(null)") : value;
}

// Tabs and Unicode space separators; line breaks stay.
bool isTrimmable(QChar c)
{
    return c == u'\t' || c.category() == QChar::Separator_Space;
}

QString trimmed(const QString &text)
{
    if (text.isNull())
        return text;
    qsizetype start = 0, end = text.size();
    while (start < end && isTrimmable(text[start]))
        ++start;
    while (end > start && isTrimmable(text[end - 1]))
        --end;
    // A blank title is still a title (an absent one would never match a stored revision).
    return start == end ? QStringLiteral("") : text.mid(start, end - start);
}

// Leading blanks, an optional sign and digits, as the platform's integer value of a
// text reads them; 0 without digits, saturated when too large.
qint64 integerValue(const QString &text)
{
    qsizetype pos = 0;
    while (pos < text.size() && text[pos].isSpace())
        ++pos;
    bool negative = false;
    if (pos < text.size() && (text[pos] == u'+' || text[pos] == u'-'))
        negative = text[pos++] == u'-';
    qint64 value = 0;
    for (; pos < text.size() && text[pos] >= u'0' && text[pos] <= u'9'; ++pos) {
        if (__builtin_mul_overflow(value, 10, &value) || __builtin_add_overflow(value, text[pos].unicode() - u'0', &value))
            return negative ? std::numeric_limits<qint64>::min() : std::numeric_limits<qint64>::max();
    }
    return negative ? -value : value;
}

int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// Strict percent-decoding: null when an escape is malformed or the bytes are not UTF-8.
QString percentDecoded(const QString &text)
{
    const QByteArray encoded = text.toUtf8();
    QByteArray bytes;
    bytes.reserve(encoded.size());
    for (qsizetype i = 0; i < encoded.size(); ++i) {
        if (encoded[i] != '%') {
            bytes += encoded[i];
            continue;
        }
        const int high = i + 2 < encoded.size() ? hexValue(encoded[i + 1]) : -1;
        const int low = i + 2 < encoded.size() ? hexValue(encoded[i + 2]) : -1;
        if (high < 0 || low < 0)
            return {};
        bytes += char(high * 16 + low);
        i += 2;
    }
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString decoded = decoder.decode(bytes);
    if (decoder.hasError())
        return {};
    return decoded.isNull() ? QStringLiteral("") : decoded;
}

// The part after the last "/", trailing slashes ignored.
QString lastPathComponent(const QString &path)
{
    qsizetype end = path.size();
    while (end > 1 && path[end - 1] == u'/')
        --end;
    const QString stripped = path.left(end);
    return stripped.mid(stripped.lastIndexOf(u'/') + 1);
}

QString tr(const char *text)
{
    return QCoreApplication::translate("TDWDocListParser", text);
}

// Where the first percent-encoded colon ("%3A" or "%3a") starts; -1 without one.
// Every entry's id passes here: a plain scan for "%" is much cheaper than a case-blind search.
qsizetype encodedColon(const QString &text)
{
    for (qsizetype at = text.indexOf(u'%'); at >= 0 && at + 2 < text.size(); at = text.indexOf(u'%', at + 1)) {
        if (text[at + 1] == u'3' && (text[at + 2] == u'A' || text[at + 2] == u'a'))
            return at;
    }
    return -1;
}

// Cuts an id before its last "/", when it has one.
QString withoutLastComponent(const QString &id)
{
    const qsizetype slash = id.lastIndexOf(u'/');
    return slash < 0 ? id : id.left(slash);
}

// The first "name" and "email" children of a person element; the last person wins.
void readPerson(const TDWXMLElement &person, QString *name, QString *email)
{
    const TDWXMLElement nameElement = person.firstChildNamed("name");
    if (!nameElement.isNull())
        *name = nameElement.stringValue();
    const TDWXMLElement emailElement = person.firstChildNamed("email");
    if (!emailElement.isNull())
        *email = emailElement.stringValue();
}

// What an entry says before it becomes a record: fields that are checked,
// completed or adjusted once every element has been read.
struct AtomFields
{
    QString type, id, title, etag, updatedText, modifiedText, publishedText;
    QString ownerName, ownerEmail, modifierName, modifierEmail, contentUrl, photoEtag;
    QString accessRole, content, extension, childId, summary, location;
    bool starred = false, hidden = false, shared = false, liked = false, viewed = false;
    QSet<QString> parents;

    bool isPhoto() const { return type == QLatin1String("photo"); }
    bool isBookmark() const { return type == QLatin1String("bookmark"); }
};

// The id, the kind, the starred and hidden labels, and the Reader states; an
// item under any other Reader label goes into the fixed folder, when there is one.
void readIdentity(const TDWXMLElement &node, const QString &fixedFolderId, AtomFields &f)
{
    f.viewed = node.hasChildNamed("gd:lastViewed");
    for (const TDWXMLElement &idElement : node.childrenNamed("id")) {
        f.id = TDWDocListParser::docIdFromUrl(idElement.stringValue());
        if (idElement.hasAttribute("gr:original-id"))
            f.type = QStringLiteral("bookmark");
    }

    for (const TDWXMLElement &category : node.childrenNamed("category")) {
        const QString term = category.attribute("term");
        const QString scheme = category.attribute("scheme");
        if (term == kStarredLabel)
            f.starred = true;
        else if (term == kHiddenLabel)
            f.hidden = true;
        if (scheme == kKindScheme && !term.isNull()) {
            const qsizetype hash = term.indexOf(u'#');
            if (hash >= 0 && hash != term.size() - 1)
                f.type = term.mid(hash + 1);
        }
        if (scheme == kReaderScheme) {
            if (TDWDocListParser::stringEndsWith(term, QStringLiteral("/state/com.google/starred")))
                f.starred = true;
            else if (TDWDocListParser::stringEndsWith(term, QStringLiteral("/state/com.google/broadcast")))
                f.shared = true;
            else if (TDWDocListParser::stringEndsWith(term, QStringLiteral("/state/com.google/like")))
                f.liked = true;
            else if (!term.isNull() && !fixedFolderId.isNull())
                f.parents = {fixedFolderId};
        }
    }

    // A Picasa tag, listed in a photo's feed, names that photo as its child.
    if (f.type == QLatin1String("tag"))
        for (const TDWXMLElement &feedId : node.parent().childrenNamed("id"))
            f.childId = TDWDocListParser::docIdFromUrl(feedId.stringValue());
}

// Picasa: a photo lies in its album and under a "tag:" parent per keyword; a comment belongs to its photo.
void readPicasaParents(const TDWXMLElement &node, AtomFields &f)
{
    if ((f.isPhoto() || f.type == QLatin1String("comment")) && !f.id.isNull()) {
        // A photo's id runs through its album's, a comment's through its photo's.
        f.parents.insert(withoutLastComponent(withoutLastComponent(f.id)));
    }
    if (!f.isPhoto())
        return;
    for (const TDWXMLElement &group : node.childrenNamed("media:group")) {
        for (const TDWXMLElement &keywords : group.childrenNamed("media:keywords")) {
            const QString text = trimmed(keywords.stringValue());
            if (text.isEmpty())
                continue;
            for (const QString &part : text.split(u',')) {
                const QString keyword = trimmed(part);
                if (!keyword.isEmpty())
                    f.parents.insert(QStringLiteral("tag:%1").arg(keyword));
            }
        }
    }
}

// Owner and last modifier. A calendar the user owns takes the feed author's
// address as its owner's.
void readPeople(const TDWXMLElement &node, const TDWXMLElement::Children &accessLevels, AtomFields &f)
{
    if (!f.isBookmark())
        for (const TDWXMLElement &author : node.childrenNamed("author"))
            readPerson(author, &f.ownerName, &f.ownerEmail);

    if (f.ownerEmail.isNull()) {
        const TDWXMLElement feed = node.parent();
        for (const TDWXMLElement &level : accessLevels) {
            const QString value = level.attribute("value");
            if (value != QLatin1String("owner") && value != QLatin1String("root"))
                continue;
            for (const TDWXMLElement &author : feed.childrenNamed("author")) {
                const TDWXMLElement email = author.firstChildNamed("email");
                if (!email.isNull())
                    f.ownerEmail = email.stringValue();
            }
        }
    }

    for (const TDWXMLElement &modifier : node.childrenNamed("gd:lastModifiedBy"))
        readPerson(modifier, &f.modifierName, &f.modifierEmail);
}

// The update time stands for the modification time; the edit time only when there is none.
void readDates(const TDWXMLElement &node, AtomFields &f)
{
    for (const TDWXMLElement &updated : node.childrenNamed("updated"))
        f.updatedText = f.modifiedText = updated.stringValue();
    for (const TDWXMLElement &edited : node.childrenNamed("app:edited"))
        if (f.modifiedText.isNull())
            f.modifiedText = edited.stringValue();
    for (const TDWXMLElement &published : node.childrenNamed("published"))
        f.publishedText = published.stringValue();
}

// Title (a photo's file name extension split off), summary, place and content.
void readTexts(const TDWXMLElement &node, AtomFields &f)
{
    for (const TDWXMLElement &titleElement : node.childrenNamed("title")) {
        f.title = TDWDocListParser::titleFromElement(titleElement);
        if (f.isBookmark())
            f.title = TDWDocListParser::flattenHTML(f.title);
        if (f.isPhoto()) {
            const qsizetype dot = f.title.lastIndexOf(u'.');
            if (dot > 0 && dot < f.title.size() - 1) {
                f.extension = f.title.mid(dot + 1);
                f.title = f.title.left(dot);
            }
        }
    }

    for (const TDWXMLElement &summaryElement : node.childrenNamed("summary")) {
        const QString text = TDWDocListParser::titleFromElement(summaryElement);
        if (!text.isEmpty())
            f.summary = text;
    }

    for (const TDWXMLElement &place : node.childrenNamed("gphoto:location")) {
        const QString text = place.stringValue();
        if (!text.isEmpty())
            f.location = text;
    }

    for (const TDWXMLElement &contentElement : node.childrenNamed("content")) {
        if (contentElement.hasAttribute("src"))
            f.contentUrl = contentElement.attribute("src");
        const QString text = contentElement.stringValue();
        if (!text.isEmpty()) {
            f.content = text;
            if (contentElement.attribute("type") == QLatin1String("html"))
                f.content = TDWDocListParser::flattenHTML(f.content);
        }
    }
}

// Where the content is fetched from, and the parents that links and group memberships name.
void readLinks(const TDWXMLElement &node, AtomFields &f)
{
    qint64 width = -1, height = -1;
    for (const TDWXMLElement &element : node.childrenNamed("gphoto:width"))
        width = integerValue(element.stringValue());
    for (const TDWXMLElement &element : node.childrenNamed("gphoto:height"))
        height = integerValue(element.stringValue());
    if (!f.contentUrl.isNull() && width >= 1 && height >= 1) {
        // Ask for the photo at its full size rather than the service's default.
        const qint64 largest = width > height ? width : height;
        f.contentUrl += (f.contentUrl.contains(u'?') ? QStringLiteral("&imgmax=") : QStringLiteral("?imgmax="))
            + QString::number(largest);
    }

    for (const TDWXMLElement &link : node.childrenNamed("link")) {
        const QString rel = link.attribute("rel");
        if (rel == kDocsParentRelation) {
            const QString parentId = TDWDocListParser::docIdFromUrl(link.attribute("href"));
            if (!parentId.isNull())
                f.parents.insert(parentId);
        } else if (rel == kContactsPhotoRelation) {
            f.contentUrl = link.attribute("href");
            f.photoEtag = link.attribute("gd:etag");
        } else if (rel == QLatin1String("alternate")) {
            if (f.isBookmark() && f.contentUrl.isNull())
                f.contentUrl = link.attribute("href");
        }
    }

    for (const TDWXMLElement &membership : node.childrenNamed("gContact:groupMembershipInfo")) {
        const QString deleted = membership.attribute("deleted");
        const QString href = membership.attribute("href");
        if ((deleted.isNull() || deleted == QLatin1String("false")) && !href.isNull())
            f.parents.insert(href);
    }
}

// The title of a Reader item's source feed.
QString sourceName(const TDWXMLElement &node)
{
    QString name;
    for (const TDWXMLElement &source : node.childrenNamed("source"))
        for (const TDWXMLElement &sourceTitle : source.childrenNamed("title"))
            name = TDWDocListParser::flattenHTML(sourceTitle.stringValue());
    return name;
}

TDWDocEntry entryFromFields(const AtomFields &f)
{
    TDWDocEntry entry;
    entry.setDocId(f.id);
    // A spreadsheet's entity tag does not change with its content; its update time does.
    entry.setEtag(f.type == QLatin1String("spreadsheet") ? f.updatedText : f.etag);
    entry.setTitle(trimmed(f.title));
    entry.setDocType(f.type);
    entry.setStarred(f.starred);
    entry.setHidden(f.hidden);
    entry.setShared(f.shared);
    entry.setLiked(f.liked);
    entry.setViewedByMe(f.viewed);
    entry.setOwnerName(f.ownerName);
    entry.setOwnerEmail(f.ownerEmail);
    entry.setLastModifiedName(f.modifierName);
    entry.setLastModifiedEmail(f.modifierEmail);
    entry.setLastModifiedDate(TDWDocListParser::dateFromString(f.modifiedText));
    entry.setPublishDate(TDWDocListParser::dateFromString(f.publishedText));
    entry.setParentFolderIds(f.parents);
    entry.setContentUrl(f.contentUrl);
    entry.setPhotoEtag(f.photoEtag);
    entry.setAccessRole(f.accessRole);
    entry.setContent(f.content);
    entry.setFilenameExtension(f.extension);
    entry.setChildDocId(f.childId);
    entry.setSummary(f.summary);
    entry.setLocation(f.location);
    return entry;
}

// A contact without a name is shown by its organisation or its address.
void completeContactTitle(const TDWXMLElement &node, TDWDocEntry &entry)
{
    if (entry.title().isEmpty())
        entry.setTitle(trimmed(node.firstChildNamed("gd:organization").firstChildNamed("gd:orgName").stringValue()));
    if (entry.title().isEmpty())
        entry.setTitle(trimmed(node.firstChildNamed("gd:email").attribute("address")));
    if (entry.title().isEmpty())
        entry.setTitle(trimmed(tr("(Unknown)")));
}

// Of the system groups only "My Contacts" is backed up, under that title.
bool acceptsGroup(const TDWXMLElement &node, TDWDocEntry &entry)
{
    const TDWXMLElement systemGroup = node.firstChildNamed("gContact:systemGroup");
    if (systemGroup.isNull())
        return true;
    if (systemGroup.attribute("id") != QLatin1String("Contacts"))
        return false;
    entry.setTitle(tr("My Contacts"));
    return true;
}

} // namespace

TDWDocListParser::TDWDocListParser(std::shared_ptr<const TDWParserConfig> config) : m_config(std::move(config))
{
    if (!m_config)
        m_config = std::make_shared<const TDWParserConfig>();
}

bool TDWDocListParser::parse(const QByteArray &page)
{
    if (!m_doc.parse(page))
        return false;
    if (acceptsDocument(m_doc.rootElement()))
        return true;
    m_doc = TDWXMLDocument();
    return false;
}

bool TDWDocListParser::acceptsDocument(const TDWXMLElement &root) const
{
    // Anything else (an error page, a different document) would read as an empty list.
    return root.hasName("feed");
}

QList<TDWDocEntry> TDWDocListParser::docEntries() const
{
    QList<TDWDocEntry> entries;
    if (m_doc.isNull())
        return entries;
    const TDWXMLElement root = m_doc.rootElement();
    if (root.isNull()) {
        tdwLog(QStringLiteral("ERROR: Unable to find item nodes."));
        return entries;
    }
    for (const TDWXMLElement &node : root.childrenNamed("entry")) {
        std::optional<TDWDocEntry> entry = entryFromNode(node);
        if (!entry)
            continue;
        if (m_config->docTypeConfig(entry->docType()).isEmpty()) {
            tdwLog(QStringLiteral("WARNING: Ignoring entry with unknown document type: %1").arg(orNull(entry->docType())));
            continue;
        }
        if (entry->docType() == QLatin1String("calendarmeta") && isSportsCalendarId(entry->docId()))
            continue;
        entries.append(std::move(*entry));
    }
    return entries;
}

QString TDWDocListParser::nextUrl() const
{
    for (const TDWXMLElement &link : m_doc.rootElement().childrenNamed("link"))
        if (link.attribute("rel") == QLatin1String("next"))
            return link.attribute("href");
    return {};
}

qint64 TDWDocListParser::numEntries() const
{
    return m_doc.rootElement().childrenNamed("entry").size();
}

QString TDWDocListParser::continuation() const
{
    const TDWXMLElement element = m_doc.rootElement().firstChildNamed("gr:continuation");
    return element.isNull() ? QString() : element.stringValue();
}

std::optional<TDWDocEntry> TDWDocListParser::entryFromNode(const TDWXMLElement &node) const
{
    if (node.isNull()) {
        tdwLog(QStringLiteral("ERROR: returning nil at entryFromNode"));
        return std::nullopt;
    }
    AtomFields f;
    readIdentity(node, m_fixedFolderId, f);
    readPicasaParents(node, f);
    const TDWXMLElement::Children accessLevels = node.childrenNamed("gCal:accesslevel");
    readPeople(node, accessLevels, f);
    readDates(node, f);
    readTexts(node, f);
    f.etag = node.attribute("gd:etag");
    readLinks(node, f);
    for (const TDWXMLElement &level : accessLevels)
        f.accessRole = level.attribute("value");
    if (f.title.isNull())
        f.title = tr("Untitled");

    if (f.id.isNull()) {
        tdwLog(QStringLiteral("ERROR: returning nil for document entry -- docIdString: %1, etag: %2, title: %3, docTypeStr: %4")
                   .arg(orNull(f.id), orNull(f.etag), orNull(f.title), orNull(f.type)));
        return std::nullopt;
    }
    if (f.isBookmark() && f.contentUrl.isNull())
        return std::nullopt;

    TDWDocEntry entry = entryFromFields(f);
    entry.setSourceName(sourceName(node));
    entry.setXmlString(node.xmlString());
    if (f.type == QLatin1String("contact"))
        completeContactTitle(node, entry);
    if (f.type == QLatin1String("group") && !acceptsGroup(node, entry))
        return std::nullopt;
    return entry;
}

QString TDWDocListParser::docIdFromUrl(const QString &text)
{
    if (text.isNull())
        return {};
    // A Documents id holds its resource id after an encoded colon.
    const qsizetype colon = encodedColon(text);
    if (colon > 0 && colon + 3 < text.size())
        return text.mid(colon + 3);
    if (text.startsWith(kOldCalendarFeedPrefix))
        return percentDecoded(lastPathComponent(text).replace(u'+', u' '));
    if (text.startsWith(kPicasaPrefix)) {
        const QString marker = QStringLiteral("/albumid/");
        const qsizetype at = text.indexOf(marker);
        return at < 0 ? QString() : text.mid(at + marker.size());
    }
    return text;
}

QDateTime TDWDocListParser::dateFromString(const QString &text)
{
    return text.isNull() ? QDateTime() : GDataDateTime(text).date();
}

QString TDWDocListParser::titleFromElement(const TDWXMLElement &element)
{
    QString text = element.stringValue();
    text.remove(u'\n');
    text.remove(u'\r');
    return text;
}

QString TDWDocListParser::flattenHTML(const QString &text)
{
    tdwLog(QStringLiteral("ERROR: flattenHTML no longer implemented."));
    return text;
}

bool TDWDocListParser::stringEndsWith(const QString &text, const QString &suffix)
{
    if (text.isNull())
        return false;
    const qsizetype at = text.indexOf(suffix);
    return at >= 0 && at + suffix.size() == text.size();
}

bool TDWDocListParser::isSportsCalendarId(const QString &docId)
{
    return stringEndsWith(docId, kSportsCalendarSuffix);
}
