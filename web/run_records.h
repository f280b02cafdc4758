// The host's record of tests for the pages: its newest runs, and one run as a report to
// download (JUnit XML, CSV or JSON, as vynloopctl report writes them). Read from the local store
// only: a remote rack's record is read on that rack.
#pragma once

#include <string>

#include "console/access/access_options.h"
#include "console/access/object_access.h"

namespace vyn::web {

struct Download {
    int status = 200;
    std::string body;      // the report, or one line of why not
    std::string type;      // its Content-Type
    std::string fileName;  // for Content-Disposition
};

// {"runs": [{"id", "instance", "board", "operator", "note", "created", "tests", "passed",
// "open"}]}, newest first, at most `limit`.
Download ListRuns(const console::AccessOptions &access, std::size_t limit);

// Run `run` (a decimal number) as `format` ("junit", "csv" or "json"). `objects` tell whether
// an instance's agent runs, so that an open test reads running or interrupted.
Download RunReport(const console::AccessOptions &access, console::ObjectAccess &objects,
                   const std::string &run, const std::string &format);

}  // namespace vyn::web
