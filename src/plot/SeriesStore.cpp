#include "plot/SeriesStore.h"

#include <algorithm>

void SeriesStore::Append(PlotPoint point) {
    if (size_ % ChunkPoints == 0) chunks_.push_back(std::make_unique<PlotPoint[]>(ChunkPoints));
    chunks_.back()[size_ % ChunkPoints] = point;
    const auto at = static_cast<uint8_t>(size_ % BlockPoints);
    if (at == 0) {
        blocks_.push_back({point.value, point.value, 0, 0});
    } else if (Block& block = blocks_.back(); point.value < block.low) {
        block.low = point.value;
        block.lowAt = at;
    } else if (point.value > block.high) {
        block.high = point.value;
        block.highAt = at;
    }
    ++size_;
}

size_t SeriesStore::LowerBound(int64_t timeMs) const {
    size_t low = 0, high = size_;
    while (low < high) {
        const size_t mid = low + (high - low) / 2;
        if (At(mid).timeMs < timeMs)
            low = mid + 1;
        else
            high = mid;
    }
    return low;
}

size_t SeriesStore::MemoryBytes() const {
    return chunks_.size() * ChunkPoints * sizeof(PlotPoint) + chunks_.capacity() * sizeof(chunks_[0]) +
           blocks_.capacity() * sizeof(Block);
}

void SeriesStore::Clear() {
    chunks_.clear();
    chunks_.shrink_to_fit();
    blocks_.clear();
    blocks_.shrink_to_fit();
    size_ = 0;
}

namespace {
// The lowest and highest point of one column, by index so that they come out in time order.
struct Column {
    int at = -1;
    size_t low = 0, high = 0;
    double lowValue = 0, highValue = 0;

    void Take(size_t index, double value) {
        if (value < lowValue) {
            low = index;
            lowValue = value;
        } else if (value > highValue) {
            high = index;
            highValue = value;
        }
    }
};

class Reduction {
public:
    Reduction(const SeriesStore& store, int64_t fromMs, int64_t toMs, int columns)
        : store_(store), fromMs_(fromMs), columns_(columns),
          perMs_(static_cast<double>(columns) / static_cast<double>(toMs - fromMs)) {}

    int ColumnOf(int64_t timeMs) const {
        return std::clamp(static_cast<int>(static_cast<double>(timeMs - fromMs_) * perMs_), 0, columns_ - 1);
    }
    // A run of points in column at, given by its lowest and its highest point (index and value).
    void Take(int at, size_t lowIndex, double low, size_t highIndex, double high) {
        if (at != column_.at) {
            Emit();
            column_ = Column{at, lowIndex, highIndex, low, high};
            return;
        }
        column_.Take(lowIndex, low);
        column_.Take(highIndex, high);
    }
    void Emit() {
        if (column_.at < 0) return;
        const size_t first = std::min(column_.low, column_.high),
                     second = std::max(column_.low, column_.high);
        out.push_back(store_.At(first));
        if (second != first) out.push_back(store_.At(second));
        column_.at = -1;
    }
    std::vector<PlotPoint> out;

private:
    const SeriesStore& store_;
    int64_t fromMs_;
    int columns_;
    double perMs_;
    Column column_;
};
} // namespace

std::vector<PlotPoint> ReduceToColumns(const SeriesStore& store, int64_t fromMs, int64_t toMs, int columns) {
    if (columns <= 0 || toMs <= fromMs || store.Size() == 0) return {};
    const size_t begin = store.LowerBound(fromMs), end = store.LowerBound(toMs);
    Reduction reduction(store, fromMs, toMs, columns);
    reduction.out.reserve(2 * static_cast<size_t>(columns) + 2);
    if (begin > 0) reduction.out.push_back(store.At(begin - 1));
    constexpr size_t Block = SeriesStore::BlockPoints;
    for (size_t i = begin; i < end;) {
        const int at = reduction.ColumnOf(store.At(i).timeMs);
        // A whole block within one column counts by its summary.
        if (i % Block == 0 && i + Block <= end && reduction.ColumnOf(store.At(i + Block - 1).timeMs) == at) {
            const SeriesStore::Block& b = store.BlockOf(i);
            reduction.Take(at, i + b.lowAt, b.low, i + b.highAt, b.high);
            i += Block;
            continue;
        }
        reduction.Take(at, i, store.At(i).value, i, store.At(i).value);
        ++i;
    }
    reduction.Emit();
    if (end < store.Size()) reduction.out.push_back(store.At(end));
    return std::move(reduction.out);
}
