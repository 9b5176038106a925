#include "core/bank/canonical_text.h"

#include "core/app/error.h"
#include "core/app/hex_text.h"
#include "core/app/int_parse.h"
#include "core/bank/bank_decode.h"
#include "core/bank/bank_description.h"
#include "core/bank/configuration_diff.h"
#include "core/device/settings.h"
#include "core/documents/document_structure.h"
#include "core/documents/xml_document.h"
#include "core/filters/filter20a.h"
#include "core/filters/filter20b.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace quillner {

namespace {

// One line, however many the reason takes (the XML parser's names the line it stopped at).
QString problemLine(const QString& location, const QString& text)
{
    const QStringList parts = text.split(u'\n', Qt::SkipEmptyParts);
    return QStringLiteral("problem: ") +
           Problem{{}, location, parts.join(QStringLiteral("; "))}.toString();
}

// Problems without their file: git hands over a temporary copy whose name must not show.
void appendProblems(QStringList& lines, const Problems& problems)
{
    for (const Problem& problem : problems)
        lines << problemLine(problem.location, problem.text);
}

// An error's text with the path it names taken out, for the same reason.
QString withoutPath(QString text, const QString& path)
{
    text.replace(QDir::toNativeSeparators(path), QStringLiteral("FILE"));
    return text.replace(path, QStringLiteral("FILE"));
}

// Each setting as the document writes it: the value in units, or why there is none.
void describePargen(QStringList& lines, const QString& path)
{
    const DocumentStructure document = wholeValue(readPargenDocument(path));
    for (const Setting setting : allSettings()) {
        const ElementText& element = document.element(settingElementName(setting));
        QString value;
        if (element.failure) {
            value = QStringLiteral("(unreadable: %1)").arg(element.failure->text);
        } else if (const std::optional<qint32> code = tryParseInt(element.text)) {
            value = settingValueOfCode(setting, *code);
            if (value.isEmpty())
                value = QStringLiteral("(code %1, no value of the list)").arg(*code);
        } else {
            value =
                QStringLiteral("(unreadable: '%1' is not a valid integer value)").arg(element.text);
        }
        lines << QStringLiteral("%1 = %2").arg(settingName(setting), value);
    }
}

QString identifierRangeText(int first, int last)
{
    const QString firstText = QStringLiteral("0x") + hex::upperText(first, 4);
    return first == last ? firstText : firstText + QStringLiteral("-0x") + hex::upperText(last, 4);
}

// The hidden identifiers rather than the visible ones, a range a line: a filter usually hides
// a few identifiers, so hiding one more adds one line and showing one of them again removes
// one, where a list of the visible ranges would split a long range into two and change two.
template <typename IsHidden> void appendHiddenRanges(QStringList& lines, IsHidden isHidden)
{
    int start = -1;
    for (int id = 0; id <= kStandardIdCount; ++id) {
        const bool hidden = id < kStandardIdCount && isHidden(id);
        if (hidden && start < 0)
            start = id;
        if (!hidden && start >= 0) {
            lines << QStringLiteral("hidden ") + identifierRangeText(start, id - 1);
            start = -1;
        }
    }
}

void describeFilter20A(QStringList& lines, const QString& path)
{
    const DocumentStructure document = wholeValue(readFilter20ADocument(path));
    const Filter20ALoad load = filter20AShown(document);
    lines << QStringLiteral("filter.kind = ") +
                 filterKindName(BankDescription::FilterKind::Identifiers20A);
    if (document.children.size() != kStandardIdCount)
        lines << QStringLiteral("entries = %1 (the window writes %2)")
                     .arg(document.children.size())
                     .arg(kStandardIdCount);
    appendHiddenRanges(lines, [&](int id) { return load.value.IdVisible[size_t(id)] == 0; });
    appendProblems(lines, load.problems);
    // The window shows every integer but 0 as visible; the compiler passes only 1.
    for (int position = 0; position < int(document.children.size()); ++position) {
        const std::optional<qint32> value = tryParseInt(document.children[position].text);
        if (value && *value != 0 && *value != 1)
            lines << problemLine(
                childLocation(position),
                QStringLiteral("%1 is shown visible but compiled hidden").arg(*value));
    }
}

QString identifier20BText(quint32 identifier)
{
    return QStringLiteral("identifier 0x") + hex::upperText(identifier, 8);
}

void describeFilter20B(QStringList& lines, const QString& path)
{
    const Filter20BLoad load = filter20BShown(wholeValue(readFilter20BDocument(path)), {});
    if (load.found) {
        const Filter20B& filter = load.value;
        QStringList entries;
        if (filter.cobIdFilter) {
            lines << QStringLiteral("filter.kind = ") +
                         filterKindName(BankDescription::FilterKind::IdentifierList20B);
            lines << QStringLiteral("filter.type = ") + (filter.typePositive
                                                             ? QStringLiteral("positive")
                                                             : QStringLiteral("negative"));
            for (const QString& entry : filter.cobIds) {
                const std::optional<qint32> value = tryParseInt(entry);
                entries << (value ? identifier20BText(quint32(*value))
                                  : QStringLiteral("identifier '%1' (not an integer)").arg(entry));
            }
        } else {
            lines << QStringLiteral("filter.kind = ") +
                         filterKindName(BankDescription::FilterKind::Mask20B);
            for (const QString& pattern : filter.patterns)
                entries << QStringLiteral("pattern ") + pattern.toLower();
        }
        // The device matches a frame against every entry, so their order says nothing.
        entries.sort();
        lines << entries;
    }
    appendProblems(lines, load.problems);
}

void describeXml(CanonicalText& result, const QString& path)
{
    const QDomDocument document = wholeValue(loadXmlDocument(path));
    const QString root = document.documentElement().tagName();
    result.described = true;
    if (root == pargen_names::kRoot) {
        result.lines << QStringLiteral("document = pargen.xml");
        describePargen(result.lines, path);
    } else if (root == filter20a_names::kRoot) {
        result.lines << QStringLiteral("document = Filter20A.xml");
        describeFilter20A(result.lines, path);
    } else if (root == filter20b_names::kRoot) {
        result.lines << QStringLiteral("document = Filter20B.xml");
        describeFilter20B(result.lines, path);
    } else if (root == translate_table_names::kRoot) {
        result.lines << QStringLiteral("document = var.xml");
        const int entries = childCount(document.documentElement());
        if (entries > 0)
            result.lines << QStringLiteral("entries = %1").arg(entries);
    } else {
        result.described = false;
        result.lines << problemLine({}, QStringLiteral("an XML document with the root element "
                                                       "'%1' is no document of a project")
                                            .arg(root));
    }
}

Result<Done> describeBankFile(CanonicalText& result, const QString& path, bool image)
{
    const Result<ConfigurationBank> read = readBankFile(path);
    if (!read.whole())
        return Result<Done>::failure(read.problems);
    const ConfigurationBank& bank = read.value;
    result.described = true;
    result.lines << (image ? QStringLiteral("document = bank image")
                           : QStringLiteral("document = firmware, bank 1"));
    const BankDescription description = describeBank(bank);
    if (description.erased) {
        result.lines << QStringLiteral("erased = yes");
        return {};
    }
    for (const Setting setting : allSettings())
        result.lines << QStringLiteral("%1 = %2").arg(settingName(setting),
                                                      bankSettingValue(bank, setting));
    result.lines << QStringLiteral("filter.kind = ") + filterKindName(description.filterKind);
    switch (description.filterKind) {
    case BankDescription::FilterKind::Identifiers20A:
        for (const auto& range : description.hiddenIdentifiers)
            result.lines << QStringLiteral("hidden ") +
                                identifierRangeText(range.first, range.last);
        break;
    case BankDescription::FilterKind::NoFilter20B:
        break;
    case BankDescription::FilterKind::IdentifierList20B: {
        result.lines << QStringLiteral("filter.type = ") + functionText(description);
        QStringList entries;
        for (const quint32 identifier : description.identifiers)
            entries << identifier20BText(identifier);
        entries.sort();
        result.lines << entries;
        break;
    }
    case BankDescription::FilterKind::Mask20B: {
        QStringList entries;
        for (const auto& pattern : description.patterns)
            entries << QStringLiteral("pattern ") + pattern.pattern;
        entries.sort();
        result.lines << entries;
        break;
    }
    }
    appendProblems(result.lines, description.problems);
    return {};
}

// Project documents are small; a larger XML file is no document of a project and is shown as it
// is without a search for markers.
constexpr qint64 kMostConflictScan = 16 * 1024 * 1024;

// The first byte that is not white space, after a UTF-8 byte-order mark.
char firstSignificantByte(const QByteArray& head)
{
    qsizetype start = head.startsWith("\xEF\xBB\xBF") ? 3 : 0;
    while (start < head.size() && QChar::isSpace(uchar(head[start])))
        ++start;
    return start < head.size() ? head[start] : '\0';
}

// The file described by its kind, or shown as written when it holds merge conflict markers; a
// problem when it cannot be opened or is of no kind described.
Result<Done> describeFile(CanonicalText& result, const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return Result<Done>::failure(
            {{{}, {}, QStringLiteral("cannot open the file: %1").arg(file.errorString())}});
    const qint64 size = file.size();
    const QByteArray head = file.read(64);
    const char first = firstSignificantByte(head);
    if (first == '<' && size <= kMostConflictScan &&
        holdsConflictMarkers((head + file.readAll()))) {
        result.lines << QStringLiteral("conflict: the file holds merge conflict markers; it "
                                       "is shown as written");
        result.verbatim = true;
        return {};
    }
    file.close();
    // A bank whose first byte is '<' would hold a serial baud code no window writes.
    if (first == '<') {
        describeXml(result, path);
        return {};
    }
    if (size == kBankSize || first == 'S')
        return describeBankFile(result, path, size == kBankSize);
    return Result<Done>::failure(
        {{{},
          {},
          QStringLiteral("neither a project document, a %1-byte bank image nor an S-record "
                         "firmware")
              .arg(kBankSize)}});
}

} // namespace

QString CanonicalText::text() const
{
    return lines.isEmpty() ? QString() : lines.join(u'\n') + u'\n';
}

bool holdsConflictMarkers(QByteArrayView bytes)
{
    for (const char* marker : {"<<<<<<< ", "=======", ">>>>>>> "}) {
        const QByteArrayView wanted(marker);
        for (qsizetype at = bytes.indexOf(wanted); at >= 0; at = bytes.indexOf(wanted, at + 1)) {
            if (at == 0 || bytes[at - 1] == '\n')
                return true;
        }
    }
    return false;
}

CanonicalText canonicalText(const QString& path)
{
    CanonicalText result;
    // Only a regular file is read: a FIFO or a device would block or never end. What cannot be
    // read has no content to describe, so its line may name it, as every "not found" does.
    const QFileInfo info(path);
    if (!info.isFile()) {
        result.unreadable = true;
        result.lines << QStringLiteral("problem: ") +
                            Problem{QDir::toNativeSeparators(path),
                                    {},
                                    info.exists() ? QStringLiteral("not a regular file")
                                                  : QStringLiteral("not found")}
                                .toString();
        return result;
    }
    Problems refused;
    try {
        refused = describeFile(result, path).problems;
    } catch (const Error& error) {
        // The readers of documents and records below still throw what they cannot read.
        refused = {{{}, {}, error.message()}};
    }
    if (result.verbatim)
        return result;
    if (!refused.isEmpty()) {
        result.lines.clear();
        result.described = false;
        result.lines << problemLine({}, withoutPath(refused.first().toString(), path));
    }
    if (!result.described) {
        result.lines.last() += QStringLiteral("; it is shown as written");
        result.verbatim = true;
    }
    return result;
}

} // namespace quillner
