#include "CompositeSize.h"

#include <gtest/gtest.h>

using lagwell::compositeSizeFor;
using lagwell::PanelRect;

TEST(CompositeSizeTest, followsTheLayoutTierAndCameraLimit)
{
    struct Case {
        const char* name;
        std::vector<PanelRect> rects;
        int tier;
        int maxHeight;
        int width;
        int height;
    } cases[] = {
        {"no panel drawn: 16:9 at 720p", {}, 0, 720, 1280, 720},
        {"empty rectangles are ignored", {{0, 0, 0, 0}, {5, 5, 100, 0}}, 0, 1080, 1280, 720},
        {"16:9 at 1080p", {}, 1, 1080, 1920, 1072},
        {"1280x800 window at 720p", {{0, 0, 1280, 800}}, 0, 720, 1152, 720},
        {"portrait box at 720p", {{0, 0, 720, 1280}}, 0, 720, 720, 1280},
        {"32:9 at 2160p with a 1080p camera: capped", {{0, 0, 3200, 900}}, 2, 1080, 2160, 608},
        {"1080p tier with a 720p camera", {{0, 0, 1920, 1080}}, 1, 720, 1280, 720},
        {"2160p tier with a 2160p camera", {{0, 0, 1920, 1080}}, 2, 2160, 3840, 2160},
        {"unknown tier counts as 720p", {{0, 0, 1920, 1080}}, 7, 2160, 1280, 720},
        {"bounding box of two panels", {{0, 0, 640, 720}, {640, 0, 640, 720}}, 0, 720, 1280, 720},
        {"offset panels, capped", {{100, 50, 400, 400}, {600, 50, 400, 400}}, 0, 720, 1440, 640},
        {"very tall strip is capped", {{0, 0, 10, 4000}}, 0, 720, 16, 1440},
        {"huge coordinates do not overflow", {{2147483000, 0, 600, 100}}, 0, 720, 1440, 240},
    };
    for (const Case& c : cases) {
        const auto size = compositeSizeFor(c.rects, c.tier, c.maxHeight);
        EXPECT_EQ(size.width, c.width) << c.name;
        EXPECT_EQ(size.height, c.height) << c.name;
        EXPECT_EQ(size.width % 16, 0) << c.name;
        EXPECT_EQ(size.height % 16, 0) << c.name;
    }
}
