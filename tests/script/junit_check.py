"""Prints what junitparser, a reader written elsewhere, reads in a JUnit report: the suite's counts as
written and as counted from its cases, each case and its results, strings in repr to show them whole."""
import sys

from junitparser import JUnitXml

for suite in JUnitXml.fromfile(sys.argv[1]):
    print(f"suite {suite.name!r} tests={suite.tests} failures={suite.failures} errors={suite.errors}"
          f" skipped={suite.skipped} time={suite.time} at={suite.timestamp!r} on={suite.hostname!r}")
    for case in suite:
        print(f"case {case.name!r} class={case.classname!r} time={case.time}")
        for result in case.result:
            print(f"  {result._tag} type={result.type!r} message={result.message!r} text={result.text!r}")
        if case.system_out:
            print(f"  out {case.system_out!r}")
    suite.update_statistics()
    print(f"counted tests={suite.tests} failures={suite.failures} errors={suite.errors}")
