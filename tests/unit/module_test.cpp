// The filter libraries as the pipeline loads them: class identifiers, the
// objects they hand out, unloading and the entry trace message.
#include <gtest/gtest.h>

#include <cstdlib>

#include "platform/libloaderapi.h"
#include "platform/stringapiset.h"
#include "platform/filterpipeline.h"

namespace {

struct Library {
    const char* file;
    CLSID clsid;
    const char* traceName;
};

const Library kLibraries[] = {
    {"libZNTRFilterPreprocess.so", MakeGuid("71AEA54A-9F57-4829-827C-1764A32B79E7"), nullptr},
    {"libZNTRFilterFinishing.so", MakeGuid("2C5D49BB-DAC5-47C8-A528-3CA5332CF24D"), nullptr},
    {"libZNTRFilterRotation.so", MakeGuid("DD2AAA28-9B8D-4C44-A5BE-B9F059B6D0C2"), "WdkPipelineFilter"},
};

// Runs once per library in a fresh process (each test is its own process under ctest).
class FilterLibrary : public testing::TestWithParam<Library> {};

TEST_P(FilterLibrary, ServesOneClassAndStaysLoadedOnceUsed)
{
    const Library& lib = GetParam();
    setenv("ZNTR_TRACE", "0,0x4", 1);  // read when the library registers its provider
    const std::u16string path = Utf8ToWide(std::string(ZNTR_BUILD_DIR) + "/" + lib.file);
    HMODULE module = LoadLibraryW(path.c_str());
    ASSERT_NE(module, nullptr) << GetLoadErrorText();
    auto getClassObject = reinterpret_cast<PFN_DllGetClassObject>(GetProcAddress(module, "DllGetClassObject"));
    auto canUnloadNow = reinterpret_cast<PFN_DllCanUnloadNow>(GetProcAddress(module, "DllCanUnloadNow"));
    ASSERT_NE(getClassObject, nullptr);
    ASSERT_NE(canUnloadNow, nullptr);
    EXPECT_EQ(GetProcAddress(module, "DllMain"), nullptr);  // only the two exports are visible

    EXPECT_EQ(canUnloadNow(), S_OK);
    void* out = reinterpret_cast<void*>(1);
    EXPECT_EQ(getClassObject(MakeGuid("00000000-0000-0000-0000-000000000001"), IID_IPrintPipelineFilter, &out),
              CLASS_E_CLASSNOTAVAILABLE);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(getClassObject(lib.clsid, IID_IClassFactory, &out), E_NOINTERFACE);  // no factory is served
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(getClassObject(lib.clsid, IID_IPrintPipelineFilter, nullptr), E_POINTER);
    EXPECT_EQ(canUnloadNow(), S_OK);

    testing::internal::CaptureStderr();
    ASSERT_EQ(getClassObject(lib.clsid, IID_IPrintPipelineFilter, &out), S_OK);
    const std::string trace = testing::internal::GetCapturedStderr();
    EXPECT_NE(trace.find("{79AD6DCE-ADAD-47AE-B49E-41BCDCCF9ED8}"), std::string::npos) << trace;
    EXPECT_NE(trace.find("10: DllGetClassObject"), std::string::npos) << trace;
    EXPECT_EQ(trace.find("WdkPipelineFilter") != std::string::npos, lib.traceName != nullptr) << trace;

    auto* filter = static_cast<IPrintPipelineFilter*>(out);
    EXPECT_EQ(filter->Release(), 0u);
    EXPECT_EQ(canUnloadNow(), S_FALSE);  // once handed out, for the life of the process
}

INSTANTIATE_TEST_SUITE_P(Deliverables, FilterLibrary, testing::ValuesIn(kLibraries),
                         [](const auto& param) { return std::string(param.param.file).substr(13, 5); });

} // namespace
