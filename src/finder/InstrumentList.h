#pragma once
// The finder's rows of the searches beside the hello (VXI-11, mDNS, typed addresses), without
// windows, and the sink through which the searches hand their findings over to the window.
//
// A row is one connection the operator could open, keyed by what FoundInstrument::key says: the
// same instrument found again by the same search refreshes its row. The same address found by the
// hello and by VXI-11 stays two rows: they open different connections (a TCP line link to the
// amplifier's port against a VXI-11 link), and the hello's row comes and goes with the hello while
// the other stays. A typed address keeps its one row, whatever its probes find.
//
// Threads: InstrumentList belongs to the window's thread. FindingQueue is filled from any thread
// and drained by the window's.
#include "finder/InstrumentSearch.h"

#include <cstddef>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

class InstrumentList {
public:
    enum class Change { Added, Updated, Unchanged };

    // A new key appends a row. A known key takes the finding's fields that are not empty, so a
    // later finding without a name (a repeated broadcast answer) keeps the name an *IDN? gave.
    // Returns what happened and the row's position.
    Change Merge(const FoundInstrument& found, size_t& index);

    // Removes every row whose `how` begins with prefix (a search switched off) and returns their
    // keys; the rows after them move up.
    std::vector<std::string> RemoveFoundBy(std::string_view prefix);
    // Removes the row of key (a typed address the operator removed); false when there is none.
    bool Remove(const std::string& key);

    const FoundInstrument* Find(const std::string& key) const;
    size_t Size() const { return rows_.size(); }
    const FoundInstrument& At(size_t index) const { return rows_.at(index); }

private:
    template <class Gone> std::vector<std::string> RemoveIf(Gone gone);

    std::vector<FoundInstrument> rows_;
    std::unordered_map<std::string, size_t> byKey_; //!< The position of each key in rows_.
};

// Queues what the searches find until the window takes it, so that a search thread never waits for
// the window and the window adds a burst of rows in batches, between repaints.
class FindingQueue final : public InstrumentSink {
public:
    void Found(const FoundInstrument& instrument) override;
    void Note(const std::string& text) override;

    // Takes at most maxFound findings in the order they came, and every note.
    void Drain(size_t maxFound, std::vector<FoundInstrument>& found, std::vector<std::string>& notes);
    bool Empty() const;

private:
    mutable std::mutex lock_; //!< Protects found_, taken_ and notes_.
    std::vector<FoundInstrument> found_;
    size_t taken_ = 0; //!< The findings of found_ drained already.
    std::vector<std::string> notes_;
};
