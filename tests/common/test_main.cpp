// Test entry: the process-wide dictionary exists for the whole run, as in the programs.
#include <gtest/gtest.h>

#include "dicom/dicom_dictionary.h"

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    vexel::CDicomDictionary dictionary;
    return RUN_ALL_TESTS();
}
