#include "VCardFiles.h"

#include <QFile>
#include <QSaveFile>
#include <stdexcept>

#include "Ansi.h"

namespace contavio {

namespace {

[[noreturn]] void fail(const QString& text) { throw std::runtime_error(toAnsi(text)); }

}  // namespace

std::vector<CardImport> readVCardFiles(const QStringList& files) {
    std::vector<CardImport> cards;
    for (const QString& name : files) {
        QFile file(name);
        if (!file.open(QIODevice::ReadOnly)) {
            fail(QStringLiteral("No se pudo leer %1: %2").arg(name, file.errorString()));
        }
        const QByteArray bytes = file.readAll();
        if (file.error() != QFileDevice::NoError) {
            fail(QStringLiteral("No se pudo leer %1: %2").arg(name, file.errorString()));
        }
        std::vector<CardImport> read =
            importVCards(std::string_view(bytes.constData(), static_cast<size_t>(bytes.size())));
        if (read.empty()) fail(QString::fromUtf8("%1 no tiene ninguna tarjeta vCard.").arg(name));
        for (size_t i = 0; i < read.size(); ++i) {
            if (!read[i].damage.empty()) {
                read[i].damage = toAnsi(QStringLiteral("%1, tarjeta %2: ").arg(name).arg(i + 1)) +
                                 read[i].damage;
            }
            cards.push_back(std::move(read[i]));
        }
    }
    return cards;
}

BookExport exportBook(TConjuntos& sets, int32_t slot, VCardVersion version, ListOrder order) {
    std::vector<ContactData> contacts;
    for (const std::string& key : bookKeys(sets, slot)) {
        ContactData contact;
        if (readContact(sets, slot, key, contact, order)) contacts.push_back(std::move(contact));
    }
    VCardExport written = exportVCards(contacts, version);
    BookExport out;
    out.text = std::move(written.text);
    out.count = static_cast<int>(contacts.size());
    for (size_t i = 0; i < written.warnings.size() && i < contacts.size(); ++i) {
        for (const std::string& warning : written.warnings[i]) {
            out.warnings.push_back(contacts[i].firstNames + " " + contacts[i].surnames + ": " +
                                   warning);
        }
    }
    return out;
}

void writeFileAtomically(const QString& name, const std::string& bytes) {
    QSaveFile file(name);
    if (!file.open(QIODevice::WriteOnly) ||
        file.write(bytes.data(), static_cast<qint64>(bytes.size())) !=
            static_cast<qint64>(bytes.size()) ||
        !file.commit()) {
        fail(QStringLiteral("No se pudo escribir %1: %2").arg(name, file.errorString()));
    }
}

QString importSummary(const ImportReport& report) {
    QString summary = QStringLiteral("a\u00F1adidos %1, combinados %2, sin cambios %3, avisos %4")
                          .arg(report.added)
                          .arg(report.merged)
                          .arg(report.unchanged)
                          .arg(report.warnings.size());
    if (!report.damaged.empty()) {
        summary += QStringLiteral(", da\u00F1adas %1").arg(report.damaged.size());
    }
    return summary;
}

std::vector<std::string> importLines(const ImportReport& report) {
    std::vector<std::string> lines;
    for (const std::string& card : report.damaged)
        lines.push_back(
            "da\xF1"
            "ada: " +
            card);
    for (const std::string& name : report.mergedNames) lines.push_back("combinado: " + name);
    lines.insert(lines.end(), report.warnings.begin(), report.warnings.end());
    return lines;
}

}  // namespace contavio
