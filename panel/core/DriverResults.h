// What the three driver libraries' result codes mean, in words, and what
// kind of failure each is: one table shared by the panel and quorvexctl, so
// that a code reads the same wherever it is reported.
//
// Pure functions over constant tables, callable from any thread; the texts
// are static.
#pragma once

namespace driverresults {

enum class Kind {
    Success,
    TimedOut,     // the instrument stopped answering
    Busy,         // the instrument or library is busy with the same kind of work
    BadArgument,  // the library refused the arguments
    Aborted,      // ended through its abort event
    Failed,       // anything else
};

struct Meaning {
    Kind kind;
    const char* text;  // "the head unit did not answer"; empty for success
};

Meaning Head(int quorvexError);
Meaning Supply(int agilentError);
Meaning Counter(int etcError);

}  // namespace driverresults
