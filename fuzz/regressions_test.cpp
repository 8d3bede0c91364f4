// Inputs that once crashed or misbehaved (or would have, unguarded), kept so they never come back.
#include <gtest/gtest.h>

#include "afterburner/afterburner_text.h"
#include "driver/driver_text.h"
#include "update/update_text.h"

TEST(FuzzRegressions, DeeplyNestedValuesAreRefusedWithoutRunningOutOfStack) {
    AppUpdate update;
    UpdateSignatures signature;
    EXPECT_EQ(ParseUpdateList("{\"a\":" + std::string(100, '[') , update, signature), ListError::NotJson);
}
