#pragma once
// The points of one series and the reduction of a time span to what a plot's pixel columns can
// show. Plain C++; one thread at a time (the UI thread appends and the plot window reads).
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

struct PlotPoint {
    int64_t timeMs = 0; //!< local wall-clock milliseconds (PlotTime.h)
    double value = 0;
};

// Points in arrival order, in fixed-size chunks: appending never moves what is stored (no doubling
// of a vector during a soak) and a point costs its 16 bytes plus a pointer per chunk. Each block of
// BlockPoints points also keeps its lowest and highest value, so a reduction over a long span reads
// the blocks instead of every point (under half a byte per point).
class SeriesStore {
public:
    static constexpr size_t ChunkPoints = 16384;
    static constexpr size_t BlockPoints = 64;
    struct Block {
        double low = 0, high = 0;
        uint8_t lowAt = 0, highAt = 0; //!< their offsets in the block
    };

    void Append(PlotPoint point);
    size_t Size() const { return size_; }
    const PlotPoint& At(size_t index) const { return chunks_[index / ChunkPoints][index % ChunkPoints]; }
    // The first point at or after timeMs (Size() when none). Arrival times only ever grow, but for
    // a clock set back, so a binary search finds the edges of a span.
    size_t LowerBound(int64_t timeMs) const;
    // What the points take in memory, chunk pointers included.
    size_t MemoryBytes() const;
    void Clear();
    // The summary of the block that holds index.
    const Block& BlockOf(size_t index) const { return blocks_[index / BlockPoints]; }

private:
    std::vector<std::unique_ptr<PlotPoint[]>> chunks_;
    std::vector<Block> blocks_;
    size_t size_ = 0;
};

// The points of [fromMs, toMs) reduced to at most the lowest and the highest value of each of
// columns equal slices of the span, in time order, plus the last point before the span and the
// first after it so the line enters and leaves the view where the data does. Whatever the number of
// points, a plot draws at most 2 * columns + 2 of them, and no peak is lost.
std::vector<PlotPoint> ReduceToColumns(const SeriesStore& store, int64_t fromMs, int64_t toMs, int columns);
