// Where a text made piece by piece goes, one piece at a time (a digest being
// fed, a file being written), so that a large text need never be held whole.
#ifndef VELKOR_SUPPORT_TEXT_SINK_H_
#define VELKOR_SUPPORT_TEXT_SINK_H_

#include <functional>
#include <string_view>

namespace velkor {

using TextSink = std::function<void(std::string_view piece)>;

}  // namespace velkor

#endif  // VELKOR_SUPPORT_TEXT_SINK_H_
