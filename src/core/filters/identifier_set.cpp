#include "core/filters/identifier_set.h"

#include "core/app/file_io.h"
#include "core/app/hex_text.h"
#include "core/app/int_parse.h"
#include "core/filters/mask_pattern.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <bit>

namespace quillner {

namespace {

// An id:mask whose free bits above its lowest fixed bit are more than this would make more
// ranges than anyone can use; such a pair is refused where ranges are made of it.
constexpr int kMaxScatteredFreeBits = 20;

// A file of identifiers is read in pieces of this size, and refused when a line or the whole is
// longer than any list of identifiers: what it keeps stays bounded whatever it is given.
constexpr qsizetype kReadPieceBytes = 1 << 16;
constexpr qint64 kMostLineBytes = 1 << 20;
constexpr qint64 kMostFileBytes = 16 << 20;
// A range is written as up to 58 aligned patterns, an inverse pair as up to 29: beyond this many
// patterns in all, cutting them apart would take more memory than any list is worth.
constexpr qsizetype kMostTermPatterns = 1 << 20;

template <typename T> Result<T> refused(Problem problem)
{
    return Result<T>::failure({std::move(problem)});
}

template <typename T> Result<T> refused(const QString& text)
{
    return refused<T>(Problem{{}, {}, text});
}

struct Token
{
    QStringView text;
    qsizetype column = 0; // counted from 1
};

bool isSeparator(QChar c)
{
    return c == u',' || c.isSpace();
}

Result<QList<Token>> tokens(QStringView text)
{
    QList<Token> result;
    qsizetype i = 0;
    while (i < text.size()) {
        if (isSeparator(text[i])) {
            ++i;
            continue;
        }
        const qsizetype start = i;
        while (i < text.size() && !isSeparator(text[i]))
            ++i;
        if (result.size() == kMostIdTerms)
            return refused<QList<Token>>(
                QStringLiteral("The text holds more than %1 items").arg(kMostIdTerms));
        result.append({text.mid(start, i - start), start + 1});
    }
    return {result, {}, {}};
}

QString rangeText(IdWidth width)
{
    return width == IdWidth::Standard ? QStringLiteral("0x000 to 0x7FF")
                                      : QStringLiteral("0x00000000 to 0x1FFFFFFF");
}

// "Column N: 'token' why", the column as the place.
template <typename T = quint32> Result<T> refused(const Token& token, const QString& why)
{
    return refused<T>(Problem{{},
                              QStringLiteral("Column %1").arg(token.column),
                              QStringLiteral("'%1' %2").arg(token.text, why)});
}

Result<quint32> checkedIdentifier(const Token& token, quint32 value, IdWidth width)
{
    if (value > idMaximum(width))
        return refused(token, QStringLiteral("is outside the identifiers ") + rangeText(width));
    return {value, {}, {}};
}

// A single identifier or a range end, read as every typed integer is. A minus sign is refused:
// read as a 32-bit integer, "-0xFFFFFFF0" would wrap to a positive identifier.
Result<quint32> number(const Token& token, QStringView part, IdWidth width)
{
    const std::optional<qint32> value = tryParseInt(part);
    if (!value || part.isEmpty() || part.front().isSpace())
        return refused(token, QStringLiteral("is not an identifier, a range or an id:mask pair"));
    if (*value < 0 || part.front() == u'-')
        return refused(token, QStringLiteral("is outside the identifiers ") + rangeText(width));
    return checkedIdentifier(token, quint32(*value), width);
}

// A number of an id:mask pair: hexadecimal as candump writes it, with or without "0x" ("$" and
// "x" are taken as well, as for every typed hexadecimal number).
Result<quint32> pairNumber(const Token& token, QStringView part, IdWidth width)
{
    if (part.startsWith(u"0x", Qt::CaseInsensitive))
        part = part.mid(2);
    else if (part.startsWith(u'$') || part.startsWith(u'x', Qt::CaseInsensitive))
        part = part.mid(1);
    bool ok = !part.isEmpty() && part.size() <= 8;
    quint32 value = 0;
    for (const QChar c : part) {
        const int digit = hex::digitValue(c.toLatin1());
        ok = ok && digit >= 0;
        value = value << 4 | quint32(std::max(digit, 0));
    }
    if (!ok)
        return refused(token, QStringLiteral("is not an identifier, a range or an id:mask pair"));
    return checkedIdentifier(token, value, width);
}

// The free bits of a pair that split its identifiers into separate runs.
quint32 scatteredFreeBits(quint32 mask, IdWidth width)
{
    const quint32 free = idMaximum(width) & ~mask;
    const int lowRun = std::countr_one(free);
    return lowRun >= 32 ? 0 : free & ~((1u << lowRun) - 1);
}

// The two numbers of a term, the first problem of either when there is one.
Result<IdTerm> withEnds(IdTerm term, const Result<quint32>& first, const Result<quint32>& last)
{
    if (!first.whole())
        return Result<IdTerm>::failure(first.problems);
    if (!last.whole())
        return Result<IdTerm>::failure(last.problems);
    term.first = first.value;
    term.last = last.value;
    return {std::move(term), {}, {}};
}

Result<IdTerm> readTerm(const Token& token, IdWidth width)
{
    const QStringView text = token.text;
    qsizetype split = text.indexOf(u':');
    IdTerm term;
    term.text = text.toString();
    term.column = token.column;
    if (split < 0) {
        split = text.indexOf(u'~');
        term.kind = IdTerm::Kind::NoMatch;
    } else {
        term.kind = IdTerm::Kind::Match;
    }
    if (split >= 0) {
        return withEnds(std::move(term), pairNumber(token, text.left(split), width),
                        pairNumber(token, text.mid(split + 1), width));
    }
    term.kind = IdTerm::Kind::Range;
    // A "-" after the first character separates a range; a leading one is a sign.
    split = text.indexOf(u'-', 1);
    if (split < 0) {
        const Result<quint32> single = number(token, text, width);
        return withEnds(std::move(term), single, single);
    }
    Result<IdTerm> range = withEnds(std::move(term), number(token, text.left(split), width),
                                    number(token, text.mid(split + 1), width));
    if (range.whole() && range.value.last < range.value.first)
        return refused<IdTerm>(token, QStringLiteral("ends before it starts"));
    return range;
}

QList<IdRange> complement(const QList<IdRange>& ascending, IdWidth width)
{
    QList<IdRange> result;
    quint64 next = 0;
    for (const IdRange& range : ascending) {
        if (range.first > next)
            result.append({quint32(next), range.first - 1});
        next = quint64(range.last) + 1;
    }
    if (next <= idMaximum(width))
        result.append({quint32(next), idMaximum(width)});
    return result;
}

// The pattern of an id:mask pair.
IdPattern matchPattern(const IdTerm& term, IdWidth width)
{
    const quint32 free = idMaximum(width) & ~term.last;
    return {term.first & ~free & idMaximum(width), free};
}

Result<QList<IdRange>> rangesOfTerm(const IdTerm& term, IdWidth width)
{
    if (term.kind != IdTerm::Kind::Range &&
        std::popcount(scatteredFreeBits(term.last, width)) > kMaxScatteredFreeBits)
        return refused<QList<IdRange>>({term.text, term.column},
                                       QStringLiteral("passes identifiers in too many separate "
                                                      "ranges"));
    switch (term.kind) {
    case IdTerm::Kind::Range:
        return {{{term.first, term.last}}, {}, {}};
    case IdTerm::Kind::Match:
        return {matchRanges(term.first, term.last, width), {}, {}};
    case IdTerm::Kind::NoMatch:
        return {complement(matchRanges(term.first, term.last, width), width), {}, {}};
    }
    return {};
}

// How many identifiers one term names.
quint64 termSize(const IdTerm& term, IdWidth width)
{
    switch (term.kind) {
    case IdTerm::Kind::Range:
        return quint64(term.last) - term.first + 1;
    case IdTerm::Kind::Match:
        return matchPattern(term, width).size();
    case IdTerm::Kind::NoMatch:
        return quint64(idMaximum(width)) + 1 - matchPattern(term, width).size();
    }
    return 0;
}

// The patterns of one term: a range as the aligned blocks it is made of, an id:mask as its
// pattern, and its inverse as one pattern for each fixed bit, where the identifiers first differ
// from the pair.
QList<IdPattern> termPatterns(const IdTerm& term, IdWidth width)
{
    QList<IdPattern> patterns;
    if (term.kind == IdTerm::Kind::Range) {
        quint64 next = term.first;
        const quint64 end = quint64(term.last) + 1;
        while (next < end) {
            quint64 size = next == 0 ? quint64(1) << 32 : next & (0 - next);
            while (next + size > end)
                size /= 2;
            patterns.append({quint32(next), quint32(size - 1)});
            next += size;
        }
        return patterns;
    }
    const IdPattern match = matchPattern(term, width);
    if (term.kind == IdTerm::Kind::Match)
        return {match};
    quint32 decided = 0;
    for (quint32 fixed = idMaximum(width) & ~match.free; fixed != 0;) {
        const quint32 bit = 1u << (31 - std::countl_zero(fixed));
        fixed &= ~bit;
        const quint32 free = idMaximum(width) & ~(decided | bit);
        patterns.append({((match.value & decided) | (~match.value & bit)), free});
        decided |= bit;
    }
    return patterns;
}

QString hexText(quint32 value)
{
    return QStringLiteral("0x") + QString::number(value, 16).toUpper();
}

} // namespace

quint32 idMaximum(IdWidth width)
{
    return width == IdWidth::Standard ? kStandardIdMax : kExtendedIdMax;
}

QList<IdRange> matchRanges(quint32 id, quint32 mask, IdWidth width)
{
    const quint32 all = idMaximum(width);
    mask &= all;
    const quint32 value = id & mask;
    const quint32 free = all & ~mask;
    const quint32 scattered = scatteredFreeBits(mask, width);
    const quint32 runLength = free & ~scattered; // the low free bits: every range spans them
    QList<IdRange> result;
    // Walks the subsets of the scattered bits in ascending order.
    quint32 subset = 0;
    do {
        const quint32 first = value | subset;
        result.append({first, first | runLength});
        subset = (subset - scattered) & scattered;
    } while (subset != 0);
    return result;
}

Result<QList<IdTerm>> parseIdTerms(QStringView text, IdWidth width)
{
    const Result<QList<Token>> items = tokens(text);
    if (!items.whole())
        return Result<QList<IdTerm>>::failure(items.problems);
    QList<IdTerm> terms;
    terms.reserve(items.value.size());
    for (const Token& token : items.value) {
        Result<IdTerm> term = readTerm(token, width);
        if (!term.whole())
            return Result<QList<IdTerm>>::failure(term.problems);
        terms.append(std::move(term.value));
    }
    return {terms, {}, {}};
}

Result<QList<IdRange>> termRanges(const QList<IdTerm>& terms, IdWidth width)
{
    QList<IdRange> all;
    for (const IdTerm& term : terms) {
        const Result<QList<IdRange>> ranges = rangesOfTerm(term, width);
        if (!ranges.whole())
            return ranges;
        all.append(ranges.value);
    }
    std::sort(all.begin(), all.end(),
              [](const IdRange& a, const IdRange& b) { return a.first < b.first; });
    QList<IdRange> merged;
    for (const IdRange& range : all) {
        if (!merged.isEmpty() && quint64(range.first) <= quint64(merged.back().last) + 1)
            merged.back().last = std::max(merged.back().last, range.last);
        else
            merged.append(range);
    }
    return {merged, {}, {}};
}

Result<QList<IdRange>> parseIdSet(QStringView text, IdWidth width)
{
    const Result<QList<IdTerm>> terms = parseIdTerms(text, width);
    if (!terms.whole())
        return Result<QList<IdRange>>::failure(terms.problems);
    return termRanges(terms.value, width);
}

Result<QList<quint32>> termIdentifiers(const QList<IdTerm>& terms, IdWidth width, qsizetype limit)
{
    QList<quint32> result;
    for (const IdTerm& term : terms) {
        if (quint64(result.size()) + termSize(term, width) > quint64(limit))
            return refused<QList<quint32>>(
                QStringLiteral("The text names more than %1 identifiers").arg(limit));
        const Result<QList<IdRange>> ranges = rangesOfTerm(term, width);
        if (!ranges.whole())
            return Result<QList<quint32>>::failure(ranges.problems);
        for (const IdRange& range : ranges.value) {
            for (quint64 id = range.first; id <= range.last; ++id)
                result.append(quint32(id));
        }
    }
    return {result, {}, {}};
}

Result<quint64> termCount(const QList<IdTerm>& terms, IdWidth width)
{
    const Result<IdPatternSet> set = termPatternSet(terms, width);
    return {set.value.count, set.problems, {}};
}

Result<IdPatternSet> termPatternSet(const QList<IdTerm>& terms, IdWidth width)
{
    QList<IdPattern> patterns;
    for (const IdTerm& term : terms) {
        patterns.append(termPatterns(term, width));
        if (patterns.size() > kMostTermPatterns)
            return refused<IdPatternSet>(
                QStringLiteral("The set takes more than %1 patterns to write; name it in fewer "
                               "ranges or pairs")
                    .arg(kMostTermPatterns));
    }
    std::optional<IdPatternSet> set = patternSetOf(patterns);
    if (!set)
        return refused<IdPatternSet>(
            QStringLiteral("The set's id:mask pairs overlap in too many ways to be counted; "
                           "name it in fewer or larger pairs"));
    return {std::move(*set), {}, {}};
}

Result<QString> readIdentifierFile(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return refused<QString>(
            cannotOpenFileMessage(QDir::toNativeSeparators(path), file.errorString()));
    const QString name = QFileInfo(path).fileName();
    QByteArray kept;
    QByteArray piece(kReadPieceBytes, Qt::Uninitialized);
    qint64 line = 1;
    qint64 lineBytes = 0;
    for (;;) {
        const qint64 read = file.read(piece.data(), piece.size());
        if (read < 0)
            return refused<QString>(
                cannotReadFileMessage(QDir::toNativeSeparators(path), file.errorString()));
        if (read == 0)
            break;
        for (qint64 i = 0; i < read; ++i) {
            if (piece[i] == '\n') {
                ++line;
                lineBytes = 0;
            } else if (++lineBytes > kMostLineBytes) {
                return refused<QString>(
                    Problem{name, QStringLiteral("line %1").arg(line),
                            QStringLiteral("longer than %1 bytes, which no list of identifiers is")
                                .arg(kMostLineBytes)});
            }
        }
        if (kept.size() + read > kMostFileBytes)
            return refused<QString>(
                Problem{name,
                        {},
                        QStringLiteral("longer than %1 bytes, which no list of identifiers is")
                            .arg(kMostFileBytes)});
        kept.append(piece.constData(), read);
    }
    return {QString::fromUtf8(kept), {}, {}};
}

QList<IdRange> rangesOf(const QList<quint32>& ascending)
{
    QList<IdRange> result;
    for (const quint32 id : ascending) {
        if (!result.isEmpty() && quint64(id) <= quint64(result.back().last) + 1)
            result.back().last = std::max(result.back().last, id);
        else
            result.append({id, id});
    }
    return result;
}

quint64 rangeCount(const QList<IdRange>& ranges)
{
    quint64 count = 0;
    for (const IdRange& range : ranges)
        count += quint64(range.last) - range.first + 1;
    return count;
}

QString idSetText(const QList<IdRange>& ranges)
{
    QStringList parts;
    for (const IdRange& range : ranges) {
        parts.append(range.first == range.last ? hexText(range.first)
                                               : hexText(range.first) + u'-' + hexText(range.last));
    }
    return parts.join(QStringLiteral(", "));
}

QString idMaskPattern(quint32 id, quint32 mask)
{
    QString pattern(kPatternLength, u'x');
    for (int bit = 0; bit < kPatternLength; ++bit) {
        if (mask >> bit & 1)
            pattern[kPatternLength - 1 - bit] = (id >> bit & 1) ? u'1' : u'0';
    }
    return pattern;
}

Result<QString> patternFromIdMask(const QString& typed)
{
    if (typed.contains(u'~'))
        return refused<QString>(QStringLiteral("'%1' passes all but one pattern's identifiers: "
                                               "write the patterns that pass them instead")
                                    .arg(typed));
    if (!typed.contains(u':'))
        return {typed, {}, {}};
    const Result<QList<IdTerm>> terms = parseIdTerms(typed, IdWidth::Extended);
    if (!terms.whole())
        return Result<QString>::failure(terms.problems);
    if (terms.value.size() != 1 || terms.value.front().kind != IdTerm::Kind::Match)
        return refused<QString>(QStringLiteral("'%1' is not one id:mask pair").arg(typed));
    const IdTerm& pair = terms.value.front();
    return {idMaskPattern(pair.first, pair.last), {}, {}};
}

} // namespace quillner
