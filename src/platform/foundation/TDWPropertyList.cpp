#include "platform/foundation/TDWPropertyList.h"

#include "platform/foundation/TDWNumber.h"
#include "platform/foundation/TDWSafeFile.h"

#include <QDateTime>
#include <QFile>
#include <QRegularExpression>
#include <QStringList>

#include <libxml/parser.h>
#include <libxml/parserInternals.h>
#include <libxml/tree.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <memory>
#include <mutex>

namespace {

QString fromXml(const xmlChar *text)
{
    return text ? QString::fromUtf8(reinterpret_cast<const char *>(text)) : QString();
}

TDWError corrupt(const QString &detail)
{
    return TDWPropertyListError::make(TDWPropertyListError::Corrupt,
                                      QStringLiteral("The data is not a valid property list: %1").arg(detail));
}

// ---------------------------------------------------------------------------
// Reading

// What the parser callbacks learn while libxml2 runs.
struct ParseState
{
    bool entityDeclared = false;
    QString firstError;
};

ParseState *stateOf(void *ctx)
{
    return static_cast<ParseState *>(static_cast<xmlParserCtxtPtr>(ctx)->_private);
}

// Property lists have no use for entities; stopping at the declaration means
// no expansion (billion laughs, external files) can ever start.
void refuseEntityDeclaration(void *ctx, const xmlChar *, int, const xmlChar *, const xmlChar *, xmlChar *)
{
    stateOf(ctx)->entityDeclared = true;
    xmlStopParser(static_cast<xmlParserCtxtPtr>(ctx));
}

void recordError(void *ctx, xmlErrorPtr error)
{
    ParseState *state = stateOf(ctx);
    if (state->firstError.isEmpty() && error && error->level >= XML_ERR_ERROR)
        state->firstError = QStringLiteral("line %1: %2").arg(error->line).arg(fromXml(reinterpret_cast<const xmlChar *>(error->message)).trimmed());
}

class TreeReader
{
public:
    // The one value inside the <plist> root.
    QVariant document(xmlNodePtr root);
    QString problem;

private:
    bool fail(xmlNodePtr node, const QString &what);
    // The element children of `node`, or false when something other than
    // whitespace, comments and processing instructions sits between them.
    bool elementChildren(xmlNodePtr node, QList<xmlNodePtr> *out);
    // The character content of a leaf element; false when it holds elements or entities.
    bool text(xmlNodePtr node, QString *out);
    QVariant integer(xmlNodePtr node);
    QVariant real(xmlNodePtr node);
    QVariant date(xmlNodePtr node);
    QVariant data(xmlNodePtr node);
    QVariant dictionary(xmlNodePtr node);
    QVariant array(xmlNodePtr node);
    QVariant value(xmlNodePtr element);

    int m_depth = 0;
};

bool TreeReader::fail(xmlNodePtr node, const QString &what)
{
    if (problem.isEmpty())
        problem = QStringLiteral("line %1: %2").arg(xmlGetLineNo(node)).arg(what);
    return false;
}

bool isXmlSpace(QChar c)
{
    return c == u' ' || c == u'\t' || c == u'\n' || c == u'\r';
}

bool TreeReader::elementChildren(xmlNodePtr node, QList<xmlNodePtr> *out)
{
    for (xmlNodePtr child = node->children; child; child = child->next) {
        switch (child->type) {
        case XML_ELEMENT_NODE:
            out->append(child);
            break;
        case XML_TEXT_NODE:
        case XML_CDATA_SECTION_NODE: {
            const QString content = fromXml(child->content);
            if (!std::all_of(content.begin(), content.end(), isXmlSpace))
                return fail(child, QStringLiteral("text \"%1\" inside <%2>").arg(content.trimmed().left(40), fromXml(node->name)));
            break;
        }
        case XML_COMMENT_NODE:
        case XML_PI_NODE:
            break;
        default:
            return fail(child, QStringLiteral("unexpected content inside <%1>").arg(fromXml(node->name)));
        }
    }
    return true;
}

bool TreeReader::text(xmlNodePtr node, QString *out)
{
    for (xmlNodePtr child = node->children; child; child = child->next) {
        switch (child->type) {
        case XML_TEXT_NODE:
        case XML_CDATA_SECTION_NODE:
            out->append(fromXml(child->content));
            break;
        case XML_COMMENT_NODE:
        case XML_PI_NODE:
            break;
        case XML_ENTITY_REF_NODE:
            return fail(child, QStringLiteral("undeclared entity &%1;").arg(fromXml(child->name)));
        default:
            return fail(child, QStringLiteral("<%1> holds markup").arg(fromXml(node->name)));
        }
    }
    return true;
}

QVariant TreeReader::integer(xmlNodePtr node)
{
    QString content;
    if (!text(node, &content))
        return {};
    const QString trimmed = content.trimmed();
    static const QRegularExpression decimal(QStringLiteral("^[+-]?[0-9]+$"));
    static const QRegularExpression hex(QStringLiteral("^0[xX][0-9a-fA-F]+$"));
    bool ok = false;
    if (decimal.match(trimmed).hasMatch()) {
        if (trimmed.startsWith(u'-')) {
            const qint64 n = trimmed.toLongLong(&ok);
            if (ok)
                return QVariant::fromValue(n);
        } else {
            const qulonglong n = trimmed.toULongLong(&ok);
            if (ok)
                return TDWNumber::fromUnsigned(n).toVariant();
        }
        fail(node, QStringLiteral("integer %1 out of range").arg(trimmed.left(40)));
        return {};
    }
    if (hex.match(trimmed).hasMatch()) {
        const qulonglong n = trimmed.mid(2).toULongLong(&ok, 16);
        if (ok)
            return TDWNumber::fromUnsigned(n).toVariant();
        fail(node, QStringLiteral("integer %1 out of range").arg(trimmed.left(40)));
        return {};
    }
    fail(node, QStringLiteral("\"%1\" is not an integer").arg(trimmed.left(40)));
    return {};
}

QVariant TreeReader::real(xmlNodePtr node)
{
    QString content;
    if (!text(node, &content))
        return {};
    const QString trimmed = content.trimmed();
    const QString lower = trimmed.toLower();
    if (lower == u"nan" || lower == u"+nan" || lower == u"-nan")
        return std::numeric_limits<double>::quiet_NaN();
    for (const char *spelling : {"inf", "infinity"}) {
        const QString word = QString::fromLatin1(spelling);
        if (lower == word || lower == u'+' + word)
            return std::numeric_limits<double>::infinity();
        if (lower == u'-' + word)
            return -std::numeric_limits<double>::infinity();
    }
    static const QRegularExpression number(QStringLiteral("^[+-]?([0-9]+\\.?[0-9]*|\\.[0-9]+)([eE][+-]?[0-9]+)?$"));
    bool ok = false;
    const double d = number.match(trimmed).hasMatch() ? trimmed.toDouble(&ok) : 0.0;
    if (!ok || !std::isfinite(d)) {
        fail(node, QStringLiteral("\"%1\" is not a real number").arg(trimmed.left(40)));
        return {};
    }
    return d;
}

QVariant TreeReader::date(xmlNodePtr node)
{
    QString content;
    if (!text(node, &content))
        return {};
    const QString trimmed = content.trimmed();
    static const QRegularExpression form(QStringLiteral("^([0-9]{4})-([0-9]{2})-([0-9]{2})T([0-9]{2}):([0-9]{2}):([0-9]{2})Z$"));
    const QRegularExpressionMatch m = form.match(trimmed);
    if (m.hasMatch()) {
        const QDate day(m.captured(1).toInt(), m.captured(2).toInt(), m.captured(3).toInt());
        const QTime time(m.captured(4).toInt(), m.captured(5).toInt(), m.captured(6).toInt());
        if (day.isValid() && time.isValid())
            return QDateTime(day, time, Qt::UTC);
    }
    fail(node, QStringLiteral("\"%1\" is not a date").arg(trimmed.left(40)));
    return {};
}

QVariant TreeReader::data(xmlNodePtr node)
{
    QString content;
    if (!text(node, &content))
        return {};
    content.removeIf(isXmlSpace);
    // Base64 text is ASCII; anything else cannot decode.
    const QByteArray ascii = content.toLatin1();
    auto decoded = QByteArray::fromBase64Encoding(ascii, QByteArray::Base64Encoding | QByteArray::AbortOnBase64DecodingErrors);
    if (!decoded || ascii.size() != content.size() || ascii.size() % 4 != 0) {
        fail(node, QStringLiteral("<data> is not valid Base64"));
        return {};
    }
    return decoded.decoded;
}

QVariant TreeReader::dictionary(xmlNodePtr node)
{
    QList<xmlNodePtr> children;
    if (!elementChildren(node, &children))
        return {};
    QVariantMap map;
    for (qsizetype i = 0; i < children.size(); i += 2) {
        xmlNodePtr keyNode = children[i];
        if (fromXml(keyNode->name) != u"key") {
            fail(keyNode, QStringLiteral("<%1> where a <key> belongs").arg(fromXml(keyNode->name)));
            return {};
        }
        QString key;
        if (!text(keyNode, &key))
            return {};
        if (i + 1 >= children.size()) {
            fail(keyNode, QStringLiteral("key \"%1\" has no value").arg(key.left(40)));
            return {};
        }
        const QVariant v = value(children[i + 1]);
        if (!v.isValid())
            return {};
        map.insert(key, v);
    }
    return map;
}

QVariant TreeReader::array(xmlNodePtr node)
{
    QList<xmlNodePtr> children;
    if (!elementChildren(node, &children))
        return {};
    QVariantList list;
    list.reserve(children.size());
    for (xmlNodePtr child : children) {
        const QVariant v = value(child);
        if (!v.isValid())
            return {};
        list.append(v);
    }
    return list;
}

QVariant TreeReader::document(xmlNodePtr root)
{
    if (!root || fromXml(root->name) != u"plist") {
        problem = QStringLiteral("the root element is <%1>, not <plist>").arg(root ? fromXml(root->name) : QString());
        return {};
    }
    QList<xmlNodePtr> values;
    if (!elementChildren(root, &values))
        return {};
    if (values.size() != 1) {
        fail(root, QStringLiteral("<plist> holds %1 values instead of one").arg(values.size()));
        return {};
    }
    return value(values.first());
}

QVariant TreeReader::value(xmlNodePtr node)
{
    // libxml2 already bounds nesting; this keeps our own recursion bounded
    // whatever the parser's limit is.
    constexpr int MaxDepth = 512;
    if (m_depth >= MaxDepth) {
        fail(node, QStringLiteral("values nested too deeply"));
        return {};
    }
    ++m_depth;
    QVariant result;
    const QString name = fromXml(node->name);
    if (name == u"dict") {
        result = dictionary(node);
    } else if (name == u"array") {
        result = array(node);
    } else if (name == u"string") {
        QString s;
        if (text(node, &s))
            result = s;
    } else if (name == u"integer") {
        result = integer(node);
    } else if (name == u"real") {
        result = real(node);
    } else if (name == u"true" || name == u"false") {
        QList<xmlNodePtr> children;
        if (elementChildren(node, &children)) {
            if (children.isEmpty())
                result = name == u"true";
            else
                fail(node, QStringLiteral("<%1> is not empty").arg(name));
        }
    } else if (name == u"date") {
        result = date(node);
    } else if (name == u"data") {
        result = data(node);
    } else {
        fail(node, QStringLiteral("unknown element <%1>").arg(name));
    }
    --m_depth;
    return result;
}

void initLibxml()
{
    // xmlInitParser is not safe to race; every later parse is independent.
    static std::once_flag once;
    std::call_once(once, [] { xmlInitParser(); });
}

// ---------------------------------------------------------------------------
// Writing

class Writer
{
public:
    bool value(const QVariant &v, int indent);
    QByteArray out;
    QString problem;

private:
    void open(int indent, const char *line);
    bool escaped(const QString &s);
    bool element(int indent, const char *tag, const QString &content);
    bool dictionary(const QVariantMap &map, int indent);
    bool array(const QVariantList &list, int indent);
};

void Writer::open(int indent, const char *line)
{
    out.append(indent, '\t');
    out.append(line);
}

// Appends `s` as XML character data. Characters that XML 1.0 cannot carry
// have no property-list form, so they fail instead of being silently dropped;
// a carriage return is written as a reference because parsers fold a literal
// one into a newline.
bool Writer::escaped(const QString &s)
{
    QString buffer;
    buffer.reserve(s.size());
    for (qsizetype i = 0; i < s.size(); ++i) {
        const QChar c = s[i];
        const char16_t u = c.unicode();
        if (c.isHighSurrogate() && i + 1 < s.size() && s[i + 1].isLowSurrogate()) {
            buffer.append(c);
            buffer.append(s[++i]);
            continue;
        }
        if (c.isSurrogate() || u == 0xFFFE || u == 0xFFFF || (u < 0x20 && u != u'\t' && u != u'\n' && u != u'\r')) {
            problem = QStringLiteral("a string holds the character U+%1, which a property list cannot carry").arg(uint(u), 4, 16, QLatin1Char('0'));
            return false;
        }
        switch (u) {
        case u'&': buffer.append(u"&amp;"); break;
        case u'<': buffer.append(u"&lt;"); break;
        case u'>': buffer.append(u"&gt;"); break;
        case u'\r': buffer.append(u"&#13;"); break;
        default: buffer.append(c);
        }
    }
    out.append(buffer.toUtf8());
    return true;
}

bool Writer::element(int indent, const char *tag, const QString &content)
{
    out.append(indent, '\t');
    out.append('<').append(tag).append('>');
    if (!escaped(content))
        return false;
    out.append("</").append(tag).append(">\n");
    return true;
}

bool Writer::dictionary(const QVariantMap &map, int indent)
{
    if (map.isEmpty()) {
        open(indent, "<dict/>\n");
        return true;
    }
    open(indent, "<dict>\n");
    // QVariantMap iterates in key order, so the output is sorted and stable.
    for (auto it = map.constBegin(); it != map.constEnd(); ++it) {
        if (!element(indent + 1, "key", it.key()) || !value(it.value(), indent + 1))
            return false;
    }
    open(indent, "</dict>\n");
    return true;
}

bool Writer::array(const QVariantList &list, int indent)
{
    if (list.isEmpty()) {
        open(indent, "<array/>\n");
        return true;
    }
    open(indent, "<array>\n");
    for (const QVariant &item : list) {
        if (!value(item, indent + 1))
            return false;
    }
    open(indent, "</array>\n");
    return true;
}

QString realText(double d)
{
    if (std::isnan(d))
        return QStringLiteral("nan");
    if (std::isinf(d))
        return d > 0 ? QStringLiteral("+infinity") : QStringLiteral("-infinity");
    // The shortest text that reads back as the same double.
    return QString::number(d, 'g', QLocale::FloatingPointShortest);
}

bool Writer::value(const QVariant &v, int indent)
{
    if (const std::optional<TDWNumber> number = TDWNumber::of(v)) {
        switch (number->kind()) {
        case TDWNumber::Kind::Boolean:
            open(indent, *number->toSigned() ? "<true/>\n" : "<false/>\n");
            return true;
        case TDWNumber::Kind::Signed:
            return element(indent, "integer", QString::number(*number->toSigned()));
        case TDWNumber::Kind::Unsigned:
            return element(indent, "integer", QString::number(*number->toUnsigned()));
        case TDWNumber::Kind::Real:
            break;
        }
        return element(indent, "real", realText(number->toDouble()));
    }
    switch (v.typeId()) {
    case QMetaType::QVariantMap:
        return dictionary(v.toMap(), indent);
    case QMetaType::QVariantHash: {
        const QVariantHash hash = v.toHash();
        QVariantMap sorted;
        for (auto it = hash.constBegin(); it != hash.constEnd(); ++it)
            sorted.insert(it.key(), it.value());
        return dictionary(sorted, indent);
    }
    case QMetaType::QVariantList:
    case QMetaType::QStringList:
        return array(v.toList(), indent);
    case QMetaType::QString:
        return element(indent, "string", v.toString());
    case QMetaType::QDateTime: {
        const QDateTime dt = v.toDateTime();
        if (!dt.isValid()) {
            problem = QStringLiteral("an invalid date has no property-list form");
            return false;
        }
        return element(indent, "date", dt.toUTC().toString(QStringLiteral("yyyy-MM-ddTHH:mm:ssZ")));
    }
    case QMetaType::QByteArray: {
        const QByteArray base64 = v.toByteArray().toBase64();
        open(indent, "<data>\n");
        // Short lines keep large blobs readable and diffable.
        constexpr qsizetype LineLength = 68;
        for (qsizetype at = 0; at < base64.size(); at += LineLength) {
            out.append(indent, '\t');
            out.append(base64.mid(at, LineLength)).append('\n');
        }
        open(indent, "</data>\n");
        return true;
    }
    default:
        problem = v.isValid() ? QStringLiteral("a value of type %1 has no property-list form").arg(QString::fromLatin1(v.typeName()))
                              : QStringLiteral("an empty value has no property-list form");
        return false;
    }
}

} // namespace

namespace TDWPropertyList {

QVariant read(const QByteArray &data, TDWError *error)
{
    initLibxml();
    if (data.size() > std::numeric_limits<int>::max()) {
        tdwSetError(error, corrupt(QStringLiteral("the document is too large")));
        return {};
    }
    xmlParserCtxtPtr ctxt = xmlCreateMemoryParserCtxt(data.constData(), int(data.size()));
    if (!ctxt) {
        tdwSetError(error, corrupt(QStringLiteral("the document is empty")));
        return {};
    }
    ParseState state;
    ctxt->_private = &state;
    // No network, no DTD loading, no entity substitution. libxml2's default limits
    // stay: among them its nesting limit, which refuses a hostile deep document
    // before it is built (lifting it let a 3M-deep array take 738 MB).
    xmlCtxtUseOptions(ctxt, XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING);
    ctxt->sax->entityDecl = refuseEntityDeclaration;
    ctxt->sax->serror = recordError;
    xmlParseDocument(ctxt);
    xmlDocPtr doc = ctxt->myDoc;
    ctxt->myDoc = nullptr;
    const bool wellFormed = ctxt->wellFormed;
    xmlFreeParserCtxt(ctxt);
    std::unique_ptr<xmlDoc, decltype(&xmlFreeDoc)> owner(doc, xmlFreeDoc);

    QString problem;
    QVariant result;
    if (state.entityDeclared) {
        problem = QStringLiteral("entity declarations are not allowed");
    } else if (!wellFormed || !doc) {
        problem = state.firstError.isEmpty() ? QStringLiteral("not well-formed XML") : state.firstError;
    } else {
        TreeReader reader;
        result = reader.document(xmlDocGetRootElement(doc));
        problem = reader.problem;
    }
    if (!problem.isEmpty()) {
        tdwSetError(error, corrupt(problem));
        return {};
    }
    return result;
}

QVariant readFile(const QString &path, TDWError *error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        tdwSetError(error, TDWPropertyListError::make(TDWPropertyListError::FileRead,
                                                      QStringLiteral("Could not read \"%1\": %2").arg(path, file.errorString())));
        return {};
    }
    const QByteArray data = file.readAll();
    TDWError readError;
    QVariant value = read(data, &readError);
    if (!value.isValid()) {
        tdwSetError(error, TDWPropertyListError::make(TDWPropertyListError::Code(readError.code()),
                                                      QStringLiteral("%1 (%2)").arg(readError.localizedDescription(), path)));
    }
    return value;
}

QByteArray write(const QVariant &value, TDWError *error)
{
    Writer writer;
    writer.out = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                 "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" \"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
                 "<plist version=\"1.0\">\n";
    if (!writer.value(value, 0)) {
        tdwSetError(error, TDWPropertyListError::make(TDWPropertyListError::Unsupported,
                                                      QStringLiteral("The value cannot be written as a property list: %1").arg(writer.problem)));
        return {};
    }
    writer.out.append("</plist>\n");
    return writer.out;
}

bool writeFile(const QVariant &value, const QString &path, TDWError *error, int mode)
{
    const QByteArray bytes = write(value, error);
    if (bytes.isEmpty())
        return false;
    TDWError writeError;
    if (!TDWSafeFile::write(path, bytes, &writeError, mode)) {
        tdwSetError(error, TDWError(TDWPropertyListError::Domain, TDWPropertyListError::FileWrite, writeError.userInfo()));
        return false;
    }
    return true;
}

} // namespace TDWPropertyList
