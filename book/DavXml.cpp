#include "book/DavXml.h"

#include <QXmlStreamReader>
#include <QXmlStreamWriter>

namespace contavio {

namespace {

const QString kDav = QStringLiteral("DAV:");
const QString kCardDav = QStringLiteral("urn:ietf:params:xml:ns:carddav");
const QString kCalendarServer = QStringLiteral("http://calendarserver.org/ns/");

// The text of the current element and its children; the names of its
// children in childNames.
QString valueOf(QXmlStreamReader& xml, QStringList* childNames) {
    QString text;
    int depth = 1;
    while (depth > 0 && !xml.atEnd()) {
        switch (xml.readNext()) {
            case QXmlStreamReader::StartElement:
                ++depth;
                if (depth == 2 && childNames) childNames->append(xml.name().toString());
                break;
            case QXmlStreamReader::EndElement:
                --depth;
                break;
            case QXmlStreamReader::Characters:
                text += xml.text();
                break;
            default:
                break;
        }
    }
    return text;
}

// The DAV: privileges inside the privilege elements of a
// current-user-privilege-set.
QStringList privilegesOf(QXmlStreamReader& xml) {
    QStringList names;
    while (xml.readNextStartElement()) {
        if (xml.name() == QLatin1String("privilege")) {
            while (xml.readNextStartElement()) {
                if (xml.namespaceUri() == kDav) names << xml.name().toString();
                xml.skipCurrentElement();
            }
        } else {
            xml.skipCurrentElement();
        }
    }
    return names;
}

void readPropstat(QXmlStreamReader& xml, DavResource& resource) {
    QMap<QString, QString> props;
    QStringList types;
    std::optional<QStringList> privileges;
    int status = 200;
    while (xml.readNextStartElement()) {
        if (xml.name() == QLatin1String("prop")) {
            while (xml.readNextStartElement()) {
                const QString name = xml.name().toString();
                if (name == QLatin1String("current-user-privilege-set")) {
                    privileges = privilegesOf(xml);
                    continue;
                }
                QStringList children;
                QString value = valueOf(xml, &children);
                if (name == QLatin1String("resourcetype")) {
                    types = children;
                } else {
                    // The card's text is kept as sent; elsewhere blanks are layout.
                    props.insert(name,
                                 name == QLatin1String("address-data") ? value : value.trimmed());
                }
            }
        } else if (xml.name() == QLatin1String("status")) {
            status = statusCodeOf(xml.readElementText(QXmlStreamReader::IncludeChildElements));
        } else {
            xml.skipCurrentElement();
        }
    }
    if (status / 100 != 2) return;
    for (auto it = props.begin(); it != props.end(); ++it)
        resource.props.insert(it.key(), it.value());
    if (!types.isEmpty()) resource.types = types;
    if (privileges) resource.privileges = privileges;
}

DavResource readResponse(QXmlStreamReader& xml) {
    DavResource resource;
    while (xml.readNextStartElement()) {
        if (xml.name() == QLatin1String("href")) {
            resource.href = xml.readElementText(QXmlStreamReader::IncludeChildElements).trimmed();
        } else if (xml.name() == QLatin1String("status")) {
            resource.status =
                statusCodeOf(xml.readElementText(QXmlStreamReader::IncludeChildElements));
        } else if (xml.name() == QLatin1String("propstat")) {
            readPropstat(xml, resource);
        } else {
            xml.skipCurrentElement();
        }
    }
    return resource;
}

void writeProps(QXmlStreamWriter& w, const QStringList& davProps, const QStringList& cardDavProps,
                const QStringList& serverProps = {}) {
    w.writeStartElement(kDav, QStringLiteral("prop"));
    for (const QString& p : davProps) w.writeEmptyElement(kDav, p);
    for (const QString& p : cardDavProps) w.writeEmptyElement(kCardDav, p);
    for (const QString& p : serverProps) w.writeEmptyElement(kCalendarServer, p);
    w.writeEndElement();
}

QXmlStreamWriter& start(QXmlStreamWriter& w) {
    w.writeStartDocument();
    w.writeNamespace(kDav, QStringLiteral("d"));
    w.writeNamespace(kCardDav, QStringLiteral("c"));
    w.writeNamespace(kCalendarServer, QStringLiteral("cs"));
    return w;
}

}  // namespace

bool DavResource::mayWrite() const {
    if (!privileges) return true;
    // "all" and "write" hold "write-content" and "bind" (RFC 3744).
    for (const char* writing : {"all", "write", "write-content", "bind"}) {
        if (privileges->contains(QLatin1String(writing))) return true;
    }
    return false;
}

int statusCodeOf(const QString& statusLine) {
    const QStringList parts = statusLine.simplified().split(QLatin1Char(' '));
    return parts.size() >= 2 ? parts[1].toInt() : 0;
}

std::optional<DavMultistatus> parseMultistatus(const QByteArray& body) {
    QXmlStreamReader xml(body);
    DavMultistatus result;
    if (!xml.readNextStartElement() || xml.name() != QLatin1String("multistatus") ||
        xml.namespaceUri() != kDav) {
        return std::nullopt;
    }
    while (xml.readNextStartElement()) {
        if (xml.name() == QLatin1String("response")) {
            result.resources.push_back(readResponse(xml));
        } else if (xml.name() == QLatin1String("sync-token")) {
            result.syncToken =
                xml.readElementText(QXmlStreamReader::IncludeChildElements).trimmed();
        } else {
            xml.skipCurrentElement();
        }
    }
    // Whatever follows the multistatus must be well-formed too.
    while (!xml.atEnd()) xml.readNext();
    if (xml.hasError()) return std::nullopt;
    return result;
}

QByteArray propfindBody(const QStringList& davProps, const QStringList& cardDavProps,
                        const QStringList& serverProps) {
    QByteArray out;
    QXmlStreamWriter w(&out);
    start(w).writeStartElement(kDav, QStringLiteral("propfind"));
    writeProps(w, davProps, cardDavProps, serverProps);
    w.writeEndDocument();
    return out;
}

QByteArray syncCollectionBody(const QString& token) {
    QByteArray out;
    QXmlStreamWriter w(&out);
    start(w).writeStartElement(kDav, QStringLiteral("sync-collection"));
    w.writeTextElement(kDav, QStringLiteral("sync-token"), token);
    w.writeTextElement(kDav, QStringLiteral("sync-level"), QStringLiteral("1"));
    writeProps(w, {QStringLiteral("getetag")}, {});
    w.writeEndDocument();
    return out;
}

QByteArray multigetBody(const QStringList& hrefs) {
    QByteArray out;
    QXmlStreamWriter w(&out);
    start(w).writeStartElement(kCardDav, QStringLiteral("addressbook-multiget"));
    writeProps(w, {QStringLiteral("getetag")}, {QStringLiteral("address-data")});
    for (const QString& href : hrefs) w.writeTextElement(kDav, QStringLiteral("href"), href);
    w.writeEndDocument();
    return out;
}

}  // namespace contavio
