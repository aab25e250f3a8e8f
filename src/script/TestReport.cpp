#include "script/TestReport.h"

#include "plot/SeriesCsv.h"
#include "text/TextFile.h"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <limits>

namespace {

// ---- Characters

// Report text comes from both sides at once: the script's own words (UTF-8) and what the
// instruments said (Latin-1 bytes), often in one string (a reason quoting a reply). So each valid
// UTF-8 sequence counts as the character it spells and every other byte as its Latin-1 character;
// choosing one encoding for a whole string would garble the other side.
template <class Emit> void ForEachCharacter(const std::string& text, Emit emit) {
    for (size_t i = 0; i < text.size();) {
        uint32_t codePoint = 0;
        if (!NextUtf8CodePoint(text, i, codePoint)) codePoint = static_cast<unsigned char>(text[i++]);
        emit(codePoint);
    }
}

void AppendUtf8(std::string& out, uint32_t c) {
    const auto put = [&](uint32_t byte) { out += static_cast<char>(byte); };
    if (c < 0x80) {
        put(c);
    } else if (c < 0x800) {
        put(0xC0 | c >> 6), put(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        put(0xE0 | c >> 12), put(0x80 | (c >> 6 & 0x3F)), put(0x80 | (c & 0x3F));
    } else {
        put(0xF0 | c >> 18), put(0x80 | (c >> 12 & 0x3F)), put(0x80 | (c >> 6 & 0x3F)),
            put(0x80 | (c & 0x3F));
    }
}

std::string Utf8(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    ForEachCharacter(text, [&](uint32_t c) { AppendUtf8(out, c); });
    return out;
}

// "\x01", "\uFFFE": a character no reader may see raw, shown so that a person still can.
std::string VisibleEscape(uint32_t c) {
    char text[12];
    std::snprintf(text, sizeof text, c < 0x100 ? "\\x%02X" : "\\u%04X", static_cast<unsigned>(c));
    return text;
}

// XML 1.0 has no place for a C0 control but tab, LF and CR, nor for U+FFFE and U+FFFF.
bool XmlForbids(uint32_t c) {
    return (c < 0x20 && c != '\t' && c != '\n' && c != '\r') || c == 0xFFFE || c == 0xFFFF;
}

// The reference that stands for c in XML content or a quoted attribute, or null when c stands for
// itself. A parser turns CR into LF everywhere, and tab and LF into spaces in an attribute, so
// those go as references to arrive as sent.
const char* XmlReference(uint32_t c, bool attribute) {
    switch (c) {
    case '&':
        return "&amp;";
    case '<':
        return "&lt;";
    case '>':
        return "&gt;";
    case '"':
        return "&quot;";
    case '\'':
        return "&apos;";
    case '\r':
        return "&#13;";
    case '\t':
        return attribute ? "&#9;" : nullptr;
    case '\n':
        return attribute ? "&#10;" : nullptr;
    default:
        return nullptr;
    }
}

std::string Xml(const std::string& text, bool attribute = false) {
    std::string out;
    out.reserve(text.size());
    ForEachCharacter(text, [&](uint32_t c) {
        if (const char* reference = XmlReference(c, attribute))
            out += reference;
        else if (XmlForbids(c))
            out += VisibleEscape(c);
        else
            AppendUtf8(out, c);
    });
    return out;
}

std::string Attribute(const std::string& name, const std::string& value) {
    return " " + name + "=\"" + Xml(value, true) + "\"";
}

// A YAML double-quoted scalar. YAML wants every character outside its printable set escaped (C0
// and C1 controls, DEL, U+FFFE, U+FFFF), and a YAML 1.1 reader takes NEL, U+2028 and U+2029 for
// line breaks; \xNN and \uNNNN are YAML's own escapes, so a reader gets the text back.
std::string YamlQuoted(const std::string& text) {
    std::string out = "\"";
    ForEachCharacter(text, [&](uint32_t c) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c == '\n' || c == '\r' || c == '\t') {
            out += c == '\n' ? "\\n" : c == '\r' ? "\\r" : "\\t";
        } else if (c < 0x20 || (c >= 0x7F && c <= 0x9F) || c == 0x2028 || c == 0x2029 || c == 0xFFFE ||
                   c == 0xFFFF) {
            out += VisibleEscape(c);
        } else {
            AppendUtf8(out, c);
        }
    });
    return out + "\"";
}

// A test point's description: '#' would start a directive and '\' escapes, so both are escaped;
// a line break would end the test point early, so every control character becomes a space.
std::string TapDescription(const std::string& text) {
    std::string out;
    ForEachCharacter(text, [&](uint32_t c) {
        if (c == '#' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20 || (c >= 0x7F && c <= 0x9F) || c == 0x2028 || c == 0x2029) {
            out += ' ';
        } else {
            AppendUtf8(out, c);
        }
    });
    return out;
}

// ---- Numbers: with a point whatever the locale (a window's process runs in the user's one)

// The shortest form that reads back as the same value.
std::string Number(double value) {
    char text[std::numeric_limits<double>::max_digits10 + 16];
    auto [end, error] = std::to_chars(text, text + sizeof text, value);
    return error == std::errc() ? std::string(text, end) : std::string();
}

std::string Seconds(double seconds) {
    char text[32];
    auto [end, error] = std::to_chars(text, text + sizeof text, seconds, std::chars_format::fixed, 3);
    return error == std::errc() ? std::string(text, end) : Number(seconds);
}

// YAML's spelling of the values to_chars spells otherwise: ".inf", ".nan", and an exponent only
// after a point, which a YAML 1.1 reader needs to see a number in "1e-05".
std::string YamlNumber(double value) {
    if (std::isnan(value)) return ".nan";
    if (std::isinf(value)) return value < 0 ? "-.inf" : ".inf";
    std::string text = Number(value);
    const size_t exponent = text.find('e');
    if (exponent != std::string::npos && text.find('.') == std::string::npos) text.insert(exponent, ".0");
    return text;
}

// ---- What the reports say

// "FWD = 41.2 dBm, limits 42 .. 44".
std::string CheckLine(const CheckResult& check) {
    std::string line = check.name + " = " + Number(check.value);
    if (!check.unit.empty()) line += " " + check.unit;
    if (check.low && check.high)
        line += ", limits " + Number(*check.low) + " .. " + Number(*check.high);
    else if (check.low)
        line += ", low limit " + Number(*check.low);
    else if (check.high)
        line += ", high limit " + Number(*check.high);
    else
        line += ", no limits";
    return line;
}

// Why a step did not pass: the error, fail's reason (the script's own words), else the first
// measurement out of its limits.
std::string StepMessage(const StepResult& step) {
    if (step.verdict == StepVerdict::Errored) return step.reason.empty() ? "error" : step.reason;
    if (!step.reason.empty()) return step.reason;
    for (const CheckResult& check : step.checks)
        if (!check.passed) return CheckLine(check);
    return "failed";
}

// ---- JUnit

std::string JUnitFailure(const StepResult& step) {
    std::string text = step.reason.empty() ? "" : step.reason + "\n";
    for (const CheckResult& check : step.checks)
        if (!check.passed) text += CheckLine(check) + "\n";
    return "      <failure" + Attribute("message", StepMessage(step)) +
           Attribute("type", step.reason.empty() ? "limits" : "fail") + ">" + Xml(text) + "</failure>\n";
}

// The step's log lines, then each measurement with its verdict.
std::string JUnitSystemOut(const StepResult& step) {
    std::string text;
    for (const std::string& line : step.logLines)
        text += line + "\n";
    for (const CheckResult& check : step.checks) {
        if (!check.stamp.empty()) text += "[" + check.stamp + "] ";
        text += CheckLine(check) + (check.passed ? ": pass\n" : ": fail\n");
    }
    return text.empty() ? "" : "      <system-out>" + Xml(text) + "</system-out>\n";
}

std::string JUnitError(const std::string& reason, const std::string& type) {
    return "      <error" + Attribute("message", reason) + Attribute("type", type) + ">" + Xml(reason) +
           "</error>\n";
}

std::string JUnitCase(const std::string& suite, const StepResult& step) {
    std::string xml = "    <testcase" + Attribute("name", step.name) + Attribute("classname", suite) +
                      Attribute("time", Seconds(step.seconds)) + ">\n";
    if (step.verdict == StepVerdict::Failed) xml += JUnitFailure(step);
    if (step.verdict == StepVerdict::Errored) xml += JUnitError(StepMessage(step), "error");
    return xml + JUnitSystemOut(step) + "    </testcase>\n";
}

} // namespace

std::string JUnitReport(const TestRunResult& run) {
    const bool aborted = !run.abortReason.empty();
    size_t failures = 0;
    size_t errors = aborted ? 1 : 0;
    for (const StepResult& step : run.steps) {
        failures += step.verdict == StepVerdict::Failed ? 1 : 0;
        errors += step.verdict == StepVerdict::Errored ? 1 : 0;
    }
    const std::string counts = Attribute("tests", std::to_string(run.steps.size() + (aborted ? 1 : 0))) +
                               Attribute("failures", std::to_string(failures)) +
                               Attribute("errors", std::to_string(errors));
    const std::string time = Attribute("time", Seconds(run.seconds));

    std::string xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
    xml += "<testsuites" + Attribute("name", run.name) + counts + time + ">\n";
    xml += "  <testsuite" + Attribute("name", run.name) + counts + Attribute("skipped", "0") + time;
    if (!run.timestamp.empty()) xml += Attribute("timestamp", run.timestamp);
    if (!run.hostname.empty()) xml += Attribute("hostname", run.hostname);
    xml += ">\n";
    for (const StepResult& step : run.steps)
        xml += JUnitCase(run.name, step);
    // A case of its own, so that a CI that counts cases sees that the run did not finish.
    if (aborted) {
        xml += "    <testcase" + Attribute("name", "run") + Attribute("classname", run.name) +
               Attribute("time", Seconds(0)) + ">\n" + JUnitError(run.abortReason, "abort") +
               "    </testcase>\n";
    }
    return xml + "  </testsuite>\n</testsuites>\n";
}

// ---- TAP

namespace {
// Perl's prove before Test::Harness 3.48 (Debian 12 has 3.44) fails every stream that says
// "TAP version 14" with a parse error. What we write (YAML blocks indented by two spaces, "\#" in
// descriptions) is TAP 14 and reads the same as TAP 13, so the stream says 13.
constexpr char TapVersionLine[] = "TAP version 13\n";

std::string TapMeasurement(const CheckResult& check) {
    const auto limit = [](const std::optional<double>& value) { return value ? YamlNumber(*value) : "~"; };
    std::string yaml = "    - name: " + YamlQuoted(check.name) + "\n";
    yaml += "      value: " + YamlNumber(check.value) + "\n";
    yaml += "      low: " + limit(check.low) + "\n";
    yaml += "      high: " + limit(check.high) + "\n";
    yaml += "      unit: " + YamlQuoted(check.unit) + "\n";
    return yaml + "      verdict: " + (check.passed ? "pass" : "fail") + "\n";
}

// The YAML block under a test point: why it did not pass, and its measurements.
std::string TapDiagnostics(const StepResult& step) {
    if (step.verdict == StepVerdict::Passed && step.checks.empty()) return "";
    std::string yaml = "  ---\n";
    if (step.verdict != StepVerdict::Passed) {
        yaml += "  message: " + YamlQuoted(StepMessage(step)) + "\n";
        yaml += step.verdict == StepVerdict::Errored ? "  severity: error\n" : "  severity: fail\n";
    }
    if (!step.checks.empty()) yaml += "  measurements:\n";
    for (const CheckResult& check : step.checks)
        yaml += TapMeasurement(check);
    return yaml + "  ...\n";
}
} // namespace

std::string TapReport(const TestRunResult& run) {
    const bool aborted = !run.abortReason.empty();
    std::string tap = TapVersionLine;
    tap += "1.." + std::to_string(run.steps.size() + (aborted ? 1 : 0)) + "\n";
    size_t number = 0;
    for (const StepResult& step : run.steps) {
        tap += step.verdict == StepVerdict::Passed ? "ok " : "not ok ";
        tap += std::to_string(++number) + " - " + TapDescription(step.name) + "\n" + TapDiagnostics(step);
    }
    if (aborted) {
        tap += "not ok " + std::to_string(++number) +
               " - run\n  ---\n  message: " + YamlQuoted(run.abortReason) + "\n  severity: error\n  ...\n";
    }
    return tap;
}

// ---- CSV: line ends and numbers as the series CSV writes them

std::string CsvReportHeader() {
    return "step,name,value,low,high,unit,verdict,time\r\n";
}

std::string CsvReportRows(const StepResult& step) {
    const auto limit = [](const std::optional<double>& value) { return value ? Number(*value) : ""; };
    const std::string stepField = CsvField(Utf8(step.name));
    std::string rows;
    for (const CheckResult& check : step.checks) {
        rows += stepField + "," + CsvField(Utf8(check.name)) + "," + Number(check.value) + "," +
                limit(check.low) + "," + limit(check.high) + "," + CsvField(Utf8(check.unit)) + "," +
                (check.passed ? "pass" : "fail") + "," + CsvField(check.stamp) + "\r\n";
    }
    return rows;
}
