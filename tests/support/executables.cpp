#include "tests/support/executables.h"
#include "tests/support/process.h"

namespace qvr::test {

void copyExecutable(const std::string& from, const std::string& to)
{
    std::error_code error;
    std::filesystem::copy_file(from, to, std::filesystem::copy_options::overwrite_existing, error);
    if (error)
        ADD_FAILURE() << "cannot copy " << from << " to " << to << ": " << error.message();
}

void stampedCopy(const std::string& from, const std::string& to, const std::string& version, const std::string& key)
{
    std::string output;
    const int status = runProcess(
        {"/bin/sh", QVR_STAMP_SCRIPT, from, to, version, key.empty() ? QVR_UPDATE_SIGNING_KEY : key}, {}, &output);
    if (status != 0)
        ADD_FAILURE() << "stamp-version " << version << " failed (" << status << "): " << output;
}

} // namespace qvr::test
