#pragma once

// SDR pictures made HLG or PQ with libavfilter's zscale; not part of the public clip API.

#include <cstdint>  // before libavutil: its C++ check wants UINT64_C defined

extern "C" {
#include <libavfilter/avfilter.h>
#include <libavutil/frame.h>
}

#include <QImage>
#include <memory>
#include <optional>
#include <string>

#include "clipgen.h"

namespace tambrel::clipgen {

class HdrFilter {
  public:
    // Takes RGB32 pictures of `width` x `height` (BT.709 primaries and transfer, full range)
    // and gives BT.2020 10-bit 4:2:0 limited range with the transfer of `transfer`.
    static std::optional<std::string> open(int width, int height, Transfer transfer,
                                           std::unique_ptr<HdrFilter>& out);
    HdrFilter(const HdrFilter&) = delete;
    HdrFilter& operator=(const HdrFilter&) = delete;

    // Converts one picture into `out` (unreferenced first).
    std::optional<std::string> convert(const QImage& picture, AVFrame* out);

  private:
    HdrFilter() = default;
    struct GraphFree {
        void operator()(AVFilterGraph* graph) const { avfilter_graph_free(&graph); }
    };
    std::unique_ptr<AVFilterGraph, GraphFree> graph_;  // owns the filter contexts below
    AVFilterContext* source_ = nullptr;
    AVFilterContext* sink_ = nullptr;
    int width_ = 0, height_ = 0;
};

}  // namespace tambrel::clipgen
