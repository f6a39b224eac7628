#include "quorvel/config/LineFormat.h"

#include <QStringList>

#include <array>
#include <cstddef>
#include <initializer_list>
#include <optional>
#include <stdexcept>

#include "quorvel/config/Instrument.h"

namespace quorvel::config {

namespace {

using I = ConfigHelper::Instrument;

// Reason keys of the worker bundle; nullptr: the line is simply not a reading (a header, an
// ID, a date), which needs no word in the log.
constexpr const char* OVERLOAD = "reading.overload";
constexpr const char* UNDERLOAD = "reading.underload";
constexpr const char* OUT_OF_RANGE = "reading.out.of.range";
constexpr const char* ERROR = "reading.error";
constexpr const char* BUSY = "reading.not.ready";
constexpr const char* COMPOUND = "reading.compound";
constexpr const char* SILENT = nullptr;

struct Rejection {
    const char* pattern;
    const char* reason;
};

enum Flags : unsigned {
    NO_FLAGS = 0,
    NINES = 1u << 0,     // a value of nothing but nines is the out-of-range sentinel
    BRACKETS = 1u << 1,  // non-verified digits come in brackets and belong to the value
    DECODE_TOLEDO = 1u << 2,  // Toledo continuous frames are decoded
};

struct RuleRow {
    std::initializer_list<Rejection> rejections;
    const char* unstable;  // a line matching it is in motion; nullptr: no stability marks
    const char* tare;      // a line matching it holds a tare value
    const char* stable;    // nullptr: every line not unstable is stable; else only these
    unsigned flags;
};

// Lines of the MT-SICS status answers, shared by the presets that may speak it.
#define SICS_STATUS                                                                        \
    {R"(^S \+)", OVERLOAD}, {R"(^S -)", UNDERLOAD}, {R"(^S I)", BUSY}, {R"(^S L)", ERROR}, \
        {R"(^E[SLT]\s*$)", ERROR}

// A date (14.01.2011, 2021/03/15, 03-15-21) or a time (09:43) somewhere in the line.
constexpr const char* DATE_OR_TIME =
    R"(\b[0-9]{1,4}[./-][0-9]{1,2}[./-][0-9]{2,4}\b|\b[0-9]{1,2}:[0-9]{2}\b)";

// What every instrument may send instead of a reading, for the generic reader.
#define COMMON_STATUS                                                                    \
    {R"((?:^|[\s,;])(?:OL|oL|--oL--)(?:[\s,;]|$))", OVERLOAD},                           \
        {R"((?:^|[\s,;])--uL--(?:[\s,;]|$))", UNDERLOAD}, {R"(^\^\s)", OVERLOAD},        \
        {R"(^v\s)", UNDERLOAD}, {R"(^\s*(?:Stat\s+)?H{1,2}\s*$)", OVERLOAD},             \
        {R"(^\s*(?:Stat\s+)?L{1,2}\s*$)", UNDERLOAD}, {R"(\bErr(?:or)?\b)", ERROR},      \
        {R"(^\s*Stat\b)", SILENT}, {R"(^S[I ][+-]?\s*$)", OUT_OF_RANGE}, {R"(^S I)", BUSY},  \
        {R"(\^{3,})", OVERLOAD}, {R"(_{3,})", UNDERLOAD},                                  \
        {R"(\x02[- ][ 0-9.]{7}O)", OVERLOAD}, {R"(\x02[- ][ 0-9.]{7}U)", UNDERLOAD},        \
        {R"(\x02[- ][ 0-9.]{7}E)", ERROR}, {R"(^(?:SN|ID|TN)\s*,)", SILENT},               \
        {R"(^I[0-9]+ [AB]\b)", SILENT}

const RuleRow& rowFor(I instrument) {
    // clang-format off
    static const RuleRow GENERIC{{COMMON_STATUS},
        R"(^\s*(?:US\s*[, ]|\?\s|S D|SD\s|U[-\s])|^[A-Z]{1,3}\s\?\s|\s(?:gr|nt)\s*$)", nullptr,
        R"(^\s*(?:ST\s*[, ]|S S|S\s|S[-\s]))", DECODE_TOLEDO | BRACKETS};
    static const RuleRow NOTHING{{}, nullptr, nullptr, nullptr, NO_FLAGS};
    static const RuleRow AND{{
            {R"((?:^|[,;\t])OL[,;\t])", OUT_OF_RANGE},
            {R"(^SI\b)", OUT_OF_RANGE},
            {R"(^(?:SN|ID|TN)\s*[,;\t ])", SILENT},
            {R"(^\s*(?:MODEL|S/N|ID\b|DATE|TIME|END|SIGNATURE|CAL|TARGET|SPAN|REF))", SILENT}},
        R"((?:^|[,;\t])US[,;\t\s]|^[S ]D\s)", R"((?:^|[,;\t])(?:PT|TR|T )[,;\t\s])",
        R"((?:^|[,;\t])(?:ST|QT|WT)[,;\t\s]|^S\s)", NINES};
    static const RuleRow ADAM_PRINT{{
            {R"(^\s*Unit\s*Wt)", SILENT},
            {R"(^\s*(?:Date|Time|Scale\s*ID|User\s*ID|ID|No\.|Total|add:))", SILENT}},
        nullptr, nullptr, nullptr, NO_FLAGS};
    static const RuleRow ADAM_CPWPLUS{{{R"(^\s*add:)", SILENT}},
        R"(^\w[^S]N[GN]/W)", nullptr, R"(^\wSN[GN]/W)", NO_FLAGS};
    static const RuleRow ADAM_HCB{{
            {R"(^\s*(?:No\.|Total|Date|Time|ID))", SILENT}},
        R"(^\s*US)", nullptr, R"(^\s*ST)", NO_FLAGS};
    static const RuleRow KERN_572{{{R"(\bError\b)", ERROR}, {DATE_OR_TIME, SILENT}},
        R"(^\s*\?|[0-9]\s*$)", nullptr, nullptr, NO_FLAGS};
    static const RuleRow KERN_KFB{{
            {R"(^\s*OL\b)", OVERLOAD},
            {R"(^\s*(?:NO|TOTAL)\b)", SILENT},
            {R"([0-9]\.[0-9]+\.[0-9])", COMPOUND}},
        R"(^\s*US)", R"(^\s*(?:(?:ST|US)\s*,\s*)?(?:TR|TW|T)\b)", R"(^\s*(?:ST|GS|NT|GW))",
        NO_FLAGS};
    static const RuleRow KEYENCE{{
            {R"(^ER,)", ERROR},
            {R"(^(?:DR|SR|M0|MS),.*[+-][0-9.]*E)", ERROR}},
        nullptr, nullptr, nullptr, NINES};
    static const RuleRow SICS{{SICS_STATUS},
        R"(^S D)", R"(^TA? )", R"(^S S)", NO_FLAGS};
    static const RuleRow METTLER_PRINT{{{R"(^SI)", OUT_OF_RANGE}},
        R"(^[S ]D)", nullptr, nullptr, NO_FLAGS};
    static const RuleRow MITUTOYO{{{R"(^9[0-9]\s*$)", ERROR}},
        nullptr, nullptr, nullptr, NO_FLAGS};
    static const RuleRow MYWEIGH{{{R"(^:M)", ERROR}},
        R"(^:W.{9}(?!S))", nullptr, nullptr, NO_FLAGS};
    static const RuleRow OHAUS{{
            {R"([0-9]\s*lb\s+-?[0-9.]+\s*oz\b)", COMPOUND}},
        R"(\?)", nullptr, nullptr, NO_FLAGS};
    static const RuleRow PRECISA{{SICS_STATUS, {R"(^\s*[GT]\s*:)", SILENT}},
        R"(^S D)", nullptr, R"(^S S)", NO_FLAGS};
    static const RuleRow SARTORIUS{{
            {R"(^\s*(?:Stat\s+)?H{1,2}\s*$)", OVERLOAD},
            {R"(^\s*(?:Stat\s+)?L{1,2}\s*$)", UNDERLOAD},
            {R"(^\s*(?:Stat\s+)?C\s*$)", BUSY},
            {R"(^\s*(?:Stat\s+)?.*\bErr\b)", ERROR},
            {R"(^\s*Stat\b)", SILENT}},
        R"([0-9\]]\s*$)", R"(^T[12]?\s)", nullptr, BRACKETS};
    static const RuleRow TANITA{{{R"(^SI)", OUT_OF_RANGE}},
        R"(^SD)", nullptr, R"(^S\s)", NO_FLAGS};
    static const RuleRow TOLEDO{{}, nullptr, nullptr, nullptr, DECODE_TOLEDO};
    static const RuleRow RADWAG{{
            {R"(^(?:[A-Z]{1,3}\s)?\^)", OVERLOAD},
            {R"(^(?:[A-Z]{1,3}\s)?v\s)", UNDERLOAD},
            {R"(^[A-Z]{1,3}_\^)", OVERLOAD},
            {R"(^[A-Z]{1,3}_v)", UNDERLOAD},
            {R"(^[A-Z]{1,3}_[IE])", BUSY},
            {R"(^[A-Z]{1,3}_[AD])", SILENT},
            {R"(^ES\s*$)", ERROR}},
        R"(^(?:[A-Z]{1,3}\s)?\?)", nullptr, nullptr, BRACKETS};
    static const RuleRow SHIMADZU{{{R"((?:^|\s)[oO]L(?:\s|$))", OVERLOAD}},
        R"(^U)", nullptr, R"(^S)", BRACKETS};
    static const RuleRow ST_GS{{{R"(^\s*OL)", OVERLOAD}},
        R"(^\s*US)", R"(^\s*(?:ST|US)\s*,\s*(?:TR|T)\b)", nullptr, NO_FLAGS};
    static const RuleRow RINSTRUM{{
            {R"(\x02.{8}U)", UNDERLOAD},
            {R"(\x02.{8}O)", OVERLOAD},
            {R"(\x02.{8}E)", ERROR}},
        R"(\x02.{8}(?:M|.M|.{4} {3}))", nullptr, nullptr, NO_FLAGS};
    static const RuleRow NCI{{
            {R"(\^{2,})", OVERLOAD},
            {R"(_{2,})", UNDERLOAD},
            {R"(^\s*-{3,})", ERROR}},
        nullptr, nullptr, nullptr, NO_FLAGS};
    static const RuleRow FAIRBANKS{{
            {R"(--oL--)", OVERLOAD},
            {R"(--uL--)", UNDERLOAD}},
        R"(\s(?:gr|nt)\b)", nullptr, R"(\s(?:GR|NT)\b)", NO_FLAGS};
    static const RuleRow KERN_EW{{
            {R"(^[-+ ][ 0-9.]{7,8}[ A-Za-z%]{2}[LGH ]E\s*$)", ERROR}},
        R"(U\s*$)", nullptr, R"(S\s*$)", NO_FLAGS};
    // clang-format on

    switch (instrument) {
        case I::GENERIC:
            return GENERIC;
        case I::AND:
        case I::AND_SIMPLE:
        case I::AND_EM:
            return AND;
        case I::ADAM_CBK:
        case I::ADAM_GC_WEIGHT:
        case I::ADAM_GC_PCS:
            return ADAM_PRINT;
        case I::ADAM_CPWPLUS:
            return ADAM_CPWPLUS;
        case I::ADAM_HCB:
            return ADAM_HCB;
        case I::KERN_572:
        case I::KERND_DE:
        case I::KERN_DS:
        case I::KERN_FKB:
        case I::KERN_KB_N:
            return KERN_572;
        case I::KERN_KFB:
            return KERN_KFB;
        case I::KEYENCE_IL:
            return KEYENCE;
        case I::METTLER_DIALOG:
            return SICS;
        case I::METTLER_PRINT:
            return METTLER_PRINT;
        case I::MITUTOYO:
            return MITUTOYO;
        case I::MYWEIGH_HD:
            return MYWEIGH;
        case I::OHAUS:
        case I::OHAUSSPU:
            return OHAUS;
        case I::PRECISA:
            return PRECISA;
        case I::SARTORIUS:
            return SARTORIUS;
        case I::TANITA_TL280:
            return TANITA;
        case I::TOLEDO_CONTINUOUS:
            return TOLEDO;
        case I::RADWAG:
            return RADWAG;
        case I::SHIMADZU:
            return SHIMADZU;
        case I::ST_GS_INDICATOR:
            return ST_GS;
        case I::RINSTRUM:
            return RINSTRUM;
        case I::NCI:
            return NCI;
        case I::FAIRBANKS:
            return FAIRBANKS;
        case I::KERN_EW:
            return KERN_EW;
        default:
            return NOTHING;
    }
}

QRegularExpression optionalPattern(const char* pattern) {
    return pattern == nullptr ? QRegularExpression() : LineFormat::compile(QString::fromLatin1(pattern));
}

// "\r", "\n" and the NEL byte a line can start with when the instrument ends lines with two
// bytes and the preset cuts at one of them.
qsizetype strayLineEnds(const QString& line) {
    qsizetype at = 0;
    while (at < line.size() && (line[at] == u'\r' || line[at] == u'\n'))
        ++at;
    return at;
}

// Toledo continuous: STX, status words A, B and C, six weight digits, optionally six tare
// digits. The decimal point comes from word A, sign, range and motion from word B.
std::optional<Reading> decodeToledo(const QString& line) {
    static const QRegularExpression frame =
        LineFormat::compile(QStringLiteral(R"(\x02([\x20-\xff])([\x20-\xff])[\x20-\xff]([0-9]{6})(?:[0-9]{6})?\s*$)"));
    const QRegularExpressionMatch m = frame.match(line);
    if (!m.hasMatch())
        return std::nullopt;
    const int a = m.captured(1).at(0).unicode() & 0x7f;
    const int b = m.captured(2).at(0).unicode() & 0x7f;
    Reading r;
    if (b & 0x04) {
        r.reason = QString::fromLatin1(OUT_OF_RANGE);
        return r;
    }
    QString digits = m.captured(3);
    const int place = a & 0x07;
    if (place == 0) {
        digits += QStringLiteral("00");
    } else if (place == 1) {
        digits += u'0';
    } else if (place > 2) {
        digits.insert(digits.size() - (place - 2), u'.');
    }
    r.text = ((b & 0x02) ? QStringLiteral("-") : QString()) + digits;
    r.stability = (b & 0x08) ? Stability::UNSTABLE : Stability::STABLE;
    return r;
}

bool onlyNines(const QString& value) {
    int nines = 0;
    for (const QChar c : value) {
        if (c.isDigit()) {
            if (c != u'9')
                return false;
            ++nines;
        }
    }
    return nines >= 5;
}

}  // namespace

struct LineFormat::Rules {
    // Every rejection of the preset in one expression, one group per rule: one search per
    // line instead of one per rule. The rules have no groups of their own.
    QRegularExpression rejection;
    std::vector<QString> reasons;  // per group, from group 1
    QRegularExpression unstable, tare, stable;
    unsigned flags = NO_FLAGS;

    static const Rules& of(I instrument) {
        static const auto all = [] {
            constexpr std::size_t count = static_cast<std::size_t>(I::KERN_EW) + 1;
            std::array<Rules, count> out;
            for (std::size_t i = 0; i < count; ++i) {
                const RuleRow& row = rowFor(static_cast<I>(i));
                Rules& r = out[i];
                QStringList alternatives;
                for (const Rejection& rej : row.rejections) {
                    alternatives << u'(' + QString::fromLatin1(rej.pattern) + u')';
                    r.reasons.push_back(rej.reason ? QString::fromLatin1(rej.reason) : QString());
                }
                if (!alternatives.isEmpty())
                    r.rejection = compile(alternatives.join(u'|'));
                r.unstable = optionalPattern(row.unstable);
                r.tare = optionalPattern(row.tare);
                r.stable = optionalPattern(row.stable);
                r.flags = row.flags;
            }
            return out;
        }();
        return all[static_cast<std::size_t>(instrument)];
    }
};

QRegularExpression LineFormat::compile(const QString& pattern) {
    // (*ANY) makes every Unicode line end a line end: "." stops at CR as at LF, NEL, LS and
    // PS, and "$" matches before a final CR LF as well as before a final LF.
    QRegularExpression re(QStringLiteral("(*ANY)") + pattern);
    re.optimize();
    return re;
}

LineFormat::LineFormat(Instrument instrument, const QString& customPattern)
    : instrument_(instrument),
      custom_(!customPattern.isEmpty()),
      pattern_(compile(custom_ ? customPattern : InstrumentPresets::getRegEx(instrument))),
      rules_(&Rules::of(instrument)) {
    if (!pattern_.isValid()) {
        constexpr int prefix = 6;  // "(*ANY)"
        const QString message =
            QStringLiteral("%1 at position %2 of the pattern %3")
                .arg(pattern_.errorString(),
                     QString::number(std::max<qsizetype>(0, pattern_.patternErrorOffset() - prefix)),
                     pattern_.pattern().mid(prefix));
        throw std::invalid_argument(message.toStdString());
    }
}

bool LineFormat::marksStability(Instrument instrument) {
    return !Rules::of(instrument).unstable.pattern().isEmpty() ||
           (Rules::of(instrument).flags & DECODE_TOLEDO);
}

Reading LineFormat::read(const QString& received) const {
    const QString line = received.mid(strayLineEnds(received));
    const Rules& rules = *rules_;
    if (!rules.reasons.empty()) {
        const QRegularExpressionMatch rejected = rules.rejection.match(line);
        if (rejected.hasMatch()) {
            Reading none;
            for (std::size_t i = 0; i < rules.reasons.size(); ++i) {
                if (rejected.capturedStart(static_cast<int>(i) + 1) >= 0) {
                    none.reason = rules.reasons[i];
                    break;
                }
            }
            return none;
        }
    }
    if ((rules.flags & DECODE_TOLEDO) && !custom_) {
        if (auto decoded = decodeToledo(line))
            return *decoded;
    }

    const int group = InstrumentPresets::getCaptureGroup(instrument_);
    Reading r;
    if (group > pattern_.captureCount())
        return r;
    const QRegularExpressionMatch match = pattern_.match(line);
    if (!match.hasMatch())
        return r;
    // A group that took no part (the other side of an alternation matched) has no value to
    // give; an empty line would hide that the pattern does not fit.
    if (match.capturedStart(group) < 0)
        throw std::invalid_argument(
            QStringLiteral("Group %1 of the pattern took no part in the match")
                .arg(group)
                .toStdString());
    r.text = match.captured(group);
    if (r.text.isNull())
        r.text = QString("");
    if (rules.flags & BRACKETS) {
        r.text.remove(u'[');
        r.text.remove(u']');
    }
    if ((rules.flags & NINES) && onlyNines(r.text)) {
        r.text = QString("");
        r.reason = QString::fromLatin1(OUT_OF_RANGE);
        return r;
    }

    if (!rules.unstable.pattern().isEmpty() && rules.unstable.match(line).hasMatch())
        r.stability = Stability::UNSTABLE;
    else if (!rules.tare.pattern().isEmpty() && rules.tare.match(line).hasMatch())
        r.stability = Stability::TARE;
    else if (!rules.stable.pattern().isEmpty())
        r.stability =
            rules.stable.match(line).hasMatch() ? Stability::STABLE : Stability::UNMARKED;
    else if (!rules.unstable.pattern().isEmpty())
        r.stability = Stability::STABLE;
    return r;
}

}  // namespace quorvel::config
