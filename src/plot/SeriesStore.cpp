#include "plot/SeriesStore.h"

#include <algorithm>

void SeriesStore::Append(PlotPoint point) {
    if (size_ % ChunkPoints == 0) chunks_.push_back(std::make_unique<PlotPoint[]>(ChunkPoints));
    chunks_.back()[size_ % ChunkPoints] = point;
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
    return chunks_.size() * ChunkPoints * sizeof(PlotPoint) + chunks_.capacity() * sizeof(chunks_[0]);
}

void SeriesStore::Clear() {
    chunks_.clear();
    chunks_.shrink_to_fit();
    size_ = 0;
}

namespace {
// The lowest and highest point of one column, by index so that they come out in time order.
struct Column {
    size_t low = 0, high = 0;
    double lowValue = 0, highValue = 0;
    bool used = false;
};

void EmitColumn(const SeriesStore& store, const Column& column, std::vector<PlotPoint>& out) {
    if (!column.used) return;
    const size_t first = std::min(column.low, column.high), second = std::max(column.low, column.high);
    out.push_back(store.At(first));
    if (second != first) out.push_back(store.At(second));
}
} // namespace

std::vector<PlotPoint> ReduceToColumns(const SeriesStore& store, int64_t fromMs, int64_t toMs, int columns) {
    std::vector<PlotPoint> out;
    if (columns <= 0 || toMs <= fromMs || store.Size() == 0) return out;
    const size_t begin = store.LowerBound(fromMs), end = store.LowerBound(toMs);
    out.reserve(2 * static_cast<size_t>(columns) + 2);
    if (begin > 0) out.push_back(store.At(begin - 1));
    const double perMs = static_cast<double>(columns) / static_cast<double>(toMs - fromMs);
    Column column;
    int current = -1;
    for (size_t chunkStart = begin; chunkStart < end;) {
        // Walk a chunk's points through a plain pointer: At() per point would divide twice.
        const PlotPoint* chunk = &store.At(chunkStart);
        const size_t count =
            std::min(end - chunkStart, SeriesStore::ChunkPoints - chunkStart % SeriesStore::ChunkPoints);
        for (size_t i = 0; i < count; ++i) {
            const PlotPoint& p = chunk[i];
            const int at =
                std::clamp(static_cast<int>(static_cast<double>(p.timeMs - fromMs) * perMs), 0, columns - 1);
            const size_t index = chunkStart + i;
            if (at != current) {
                EmitColumn(store, column, out);
                column = Column{index, index, p.value, p.value, true};
                current = at;
            } else if (p.value < column.lowValue) {
                column.low = index;
                column.lowValue = p.value;
            } else if (p.value > column.highValue) {
                column.high = index;
                column.highValue = p.value;
            }
        }
        chunkStart += count;
    }
    EmitColumn(store, column, out);
    if (end < store.Size()) out.push_back(store.At(end));
    return out;
}
