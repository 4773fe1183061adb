// The main of the test programs: libcurl is made ready once, as each program's
// own main does, before any test fetches a page.
#include <curl/curl.h>
#include <gtest/gtest.h>

int main(int argc, char** argv)
{
    curl_global_init(CURL_GLOBAL_DEFAULT);
    ::testing::InitGoogleTest(&argc, argv);
    const int status = RUN_ALL_TESTS();
    curl_global_cleanup();
    return status;
}
