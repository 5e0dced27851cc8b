#pragma once

#include "tests/support/common.h"

namespace qvr::test {

// A copy of the file `from` at `to`, with the same permission bits.
void copyExecutable(const std::string& from, const std::string& to);

// A copy of the executable `from` at `to` that carries the file version `version`
// ("2.1.0.1"), made with tools/stamp-version, and its signature `to`.sig by the
// private key in the PEM file `key` (empty: the key this build trusts).
void stampedCopy(const std::string& from, const std::string& to, const std::string& version,
                 const std::string& key = {});

} // namespace qvr::test
