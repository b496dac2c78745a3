"""Arguments and running for the CLI suites: PROGRAM TEST_DATA_DIR CORPUS_DIR [--shared-corpus].

Each suite runs twice under ctest. Plain, it runs every case class that reads
only tests/data and scratch files. With --shared-corpus it runs the classes
marked `shared_corpus = True`, which need the corpus beside the repository; when
that is absent it prints one line and exits 77, which ctest shows as skipped,
unless LUMBRIX_REQUIRE_CORPUS is set (CI), where a lost corpus must fail."""
import os
import sys
import unittest

SKIPPED = 77


class Arguments:
    def __init__(self, argv, default_program):
        self.shared = "--shared-corpus" in argv[1:]
        rest = [a for a in argv[1:] if a != "--shared-corpus"]
        self.program = rest[0] if rest else default_program
        self.data = rest[1] if len(rest) > 1 else "tests/data"
        self.corpus = rest[2] if len(rest) > 2 else "../shared/corpus"


def corpus_absence(corpus):
    if os.path.isdir(os.path.join(corpus, "third_party")):
        return ""
    return f"shared corpus absent at {os.path.abspath(corpus)}"


def run(module, args):
    cases = [c for c in vars(module).values()
             if isinstance(c, type) and issubclass(c, unittest.TestCase)
             and getattr(c, "shared_corpus", False) == args.shared]
    if args.shared:
        absence = corpus_absence(args.corpus)
        if absence:
            if os.environ.get("LUMBRIX_REQUIRE_CORPUS", "0") not in ("", "0"):
                print(f"{absence}, and LUMBRIX_REQUIRE_CORPUS asks for it")
                sys.exit(1)
            print(absence)
            sys.exit(SKIPPED)
    loader = unittest.TestLoader()
    suite = unittest.TestSuite(loader.loadTestsFromTestCase(c) for c in cases)
    result = unittest.TextTestRunner(verbosity=2).run(suite)
    sys.exit(0 if result.wasSuccessful() and result.testsRun > 0 else 1)
