"""What the package's commands share: each module of one (pictures, view, convergence_study,
scan) has configure(parser), which declares its arguments, and execute(args), which does the
work and returns the exit status; python -m wave1d puts them under one parser."""

import argparse


def standalone(configure, execute, default_prog, argv=None, prog=None, beside=None):
    """One command on its own, as installed (wave1d-plot ...) or started by a launcher of
    tools/: parses argv (default: the command line) and returns the exit status. beside is the
    folder of the launcher, where the program may lie too."""
    parser = argparse.ArgumentParser(prog=prog or default_prog)
    configure(parser)
    args = parser.parse_args(argv)
    args.beside = beside
    return execute(args)
