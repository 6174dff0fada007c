#include "project/templates.h"

#include <gtest/gtest.h>

namespace velkor::project {
namespace {

// The manifests rendered from their pieces match a scan of the plain text for
// every target kind and profile, with a marker left unlisted too.
TEST(Templates, ManifestFromPiecesMatchesPlainRendering) {
  for (const TargetKind kind : {TargetKind::kWasm, TargetKind::kBinary, TargetKind::kNoStd}) {
    for (const OptLevel level : {OptLevel::kDebug, OptLevel::kRelease, OptLevel::kSize}) {
      const TemplatePair all[] = {{"crate_name", "x_1"}, {"backtest_dep", "0.1"}, {"profile", profile_snippet(level)}};
      EXPECT_EQ(render_cargo_manifest(kind, all), render(cargo_template(kind), all));
      const TemplatePair some[] = {{"profile", profile_snippet(level)}};
      EXPECT_EQ(render_cargo_manifest(kind, some), render(cargo_template(kind), some));
    }
  }
}

}  // namespace
}  // namespace velkor::project
