// Parameter prompts on arbitrary text, answered by a script drawn from the fuzz input. Checks every
// question against a plain reading of the text at the moment it is asked, what the call leaves
// behind, that masking agrees with answering every prompt with the mask, and that both end.
#include "text/Strtools.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <fuzzer/FuzzedDataProvider.h>
#include <string>

namespace {
void Check(bool condition) {
    if (!condition) std::abort();
}

const std::string kUnterminated = "Unterminated <?...> Sequence!";
constexpr int kMaxAsks = 64;
constexpr size_t kMaxText = 1 << 16;

// The first "<?" has a ">" somewhere after it.
bool HasTerminatedPrompt(const std::string& text) {
    const size_t open = text.find("<?");
    return open != std::string::npos && text.find('>', open + 2) != std::string::npos;
}

// Non-overlapping copies of a sequence; it cannot overlap itself anyway, its only '>' being its last.
size_t Occurrences(const std::string& text, const std::string& sequence) {
    size_t count = 0;
    for (size_t at = text.find(sequence); at != std::string::npos;
         at = text.find(sequence, at + sequence.size()))
        ++count;
    return count;
}

struct Reading {
    std::string name, defaultValue;
    bool hasDefault = false;
};

// The first sequence read straight off the text, independent of FindParamPrompt.
Reading ReadFirstPrompt(const std::string& text) {
    const size_t open = text.find("<?");
    Check(open != std::string::npos);
    const size_t close = text.find('>', open + 2);
    Check(close != std::string::npos);
    const std::string body = text.substr(open + 2, close - open - 2);
    const size_t colon = body.find(':');
    if (colon == std::string::npos) return {body, "", false};
    return {body.substr(0, colon), body.substr(colon + 1), true};
}

class ScriptUi : public ParamPromptUi {
public:
    ScriptUi(FuzzedDataProvider& input, const std::string& text, ParamMemory& memory)
        : input_(input), text_(text), memory_(memory) {}

    bool AskValue(const std::string&, const std::string& name, std::string& value) override {
        CheckLastAnswerApplied();
        const Reading expected = ReadFirstPrompt(text_);
        Check(name == expected.name);
        const auto remembered = memory_.find(name);
        Check(expected.hasDefault || remembered != memory_.end());
        Check(value == (remembered != memory_.end() ? remembered->second : expected.defaultValue));
        ++asks;
        // Answers may bring new prompts and grow the text without end; the operator's patience doesn't.
        if (asks > kMaxAsks || text_.size() > kMaxText || input_.ConsumeIntegral<uint8_t>() == 0) {
            cancelled = true;
            return false;
        }
        value = input_.ConsumeRandomLengthString(12);
        lastName_ = name;
        lastAnswer_ = value;
        const std::string sequence =
            "<?" + name + (expected.hasDefault ? ":" + expected.defaultValue : "") + ">";
        const size_t copies = Occurrences(text_, sequence);
        expectedSize_ = text_.size() - copies * sequence.size() + copies * value.size();
        answered_ = true;
        return true;
    }
    void ShowError(const std::string& message) override {
        Check(message == kUnterminated);
        ++errors;
    }
    // The answer is remembered and took the place of every copy of its sequence.
    void CheckLastAnswerApplied() const {
        if (!answered_) return;
        Check(memory_.at(lastName_) == lastAnswer_);
        Check(text_.size() == expectedSize_);
    }

    int asks = 0;
    int errors = 0;
    bool cancelled = false;

private:
    FuzzedDataProvider& input_;
    const std::string& text_;
    ParamMemory& memory_;
    std::string lastName_, lastAnswer_;
    size_t expectedSize_ = 0;
    bool answered_ = false;
};

// Answers every prompt with one fixed text.
class ConstantUi : public ParamPromptUi {
public:
    explicit ConstantUi(std::string answer) : answer_(std::move(answer)) {}
    bool AskValue(const std::string&, const std::string&, std::string& value) override {
        value = answer_;
        return true;
    }
    void ShowError(const std::string&) override {}

private:
    std::string answer_;
};

void CheckScanner(const std::string& text) {
    ParamPrompt prompt;
    const ParamScan scan = FindParamPrompt(text, prompt);
    const size_t open = text.find("<?");
    if (scan == ParamScan::None) return Check(open == std::string::npos);
    if (scan == ParamScan::Unterminated)
        return Check(open != std::string::npos && !HasTerminatedPrompt(text));
    Check(prompt.position == open && text.compare(open, prompt.sequence.size(), prompt.sequence) == 0);
    Check(prompt.sequence.find('>', 2) == prompt.sequence.size() - 1);
    Check(prompt.name.find(':') == std::string::npos);
    const std::string body = prompt.sequence.substr(2, prompt.sequence.size() - 3);
    Check(body == prompt.name + (prompt.hasDefault ? ":" + prompt.defaultValue : ""));
}

void CheckMasking(const std::string& text, const std::string& mask) {
    const std::string dots = MaskParamPrompts(text, "...");
    Check(!HasTerminatedPrompt(dots));
    std::string answered = text;
    ParamMemory memory;
    ConstantUi ui("...");
    const bool ok = ResolveParamPrompts(answered, memory, ui);
    Check(answered == dots && ok == (dots.find("<?") == std::string::npos));

    const std::string masked = MaskParamPrompts(text, mask);
    const size_t closes = static_cast<size_t>(std::count(text.begin(), text.end(), '>'));
    Check(masked.size() <= text.size() + closes * mask.size());
    if (mask.find('>') == std::string::npos) Check(!HasTerminatedPrompt(masked));
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider input(data, size);
    const std::string original = input.ConsumeRandomLengthString(2048);
    const std::string mask = input.ConsumeRandomLengthString(8);
    CheckScanner(original);
    CheckMasking(original, mask);

    std::string text = original;
    ParamMemory memory;
    ScriptUi ui(input, text, memory);
    const bool ok = ResolveParamPrompts(text, memory, ui);
    ui.CheckLastAnswerApplied();
    Check(ui.asks <= kMaxAsks + 1);
    if (ok) {
        Check(text.find("<?") == std::string::npos && ui.errors == 0 && !ui.cancelled);
    } else if (ui.cancelled) {
        Check(ui.errors == 0);
    } else {
        Check(ui.errors == 1 && text.find("<?") != std::string::npos && !HasTerminatedPrompt(text));
    }
    return 0;
}
