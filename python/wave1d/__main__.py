"""python -m wave1d: the package's commands in one.

    python -m wave1d plot [DIR]                 pictures of a run
    python -m wave1d view DIR...                a web page that plays runs
    python -m wave1d convergence INPUT          a self-convergence study
    python -m wave1d scan BASE NAME=V1,V2,...   every combination of some values

Each is also a command of its own once installed: wave1d-plot, wave1d-view,
wave1d-convergence and wave1d-scan.
"""

import argparse
import importlib
import sys

# The subcommands and their modules, each with configure(parser) and execute(args).
COMMANDS = (("plot", "pictures", "draw the pictures of a run's folder"),
            ("view", "view", "write a web page that plays the profiles of runs"),
            ("convergence", "convergence_study", "run a self-convergence study of an input"),
            ("scan", "scan", "run wave1d on every combination of some values"))


def parser(prog="python -m wave1d"):
    """The argument parser of every subcommand."""
    top = argparse.ArgumentParser(prog=prog, description=__doc__.split("\n\n")[0])
    commands = top.add_subparsers(dest="command", metavar="COMMAND", required=True)
    for name, module_name, summary in COMMANDS:
        # Imported one by one, so that one that cannot be leaves the others working.
        try:
            module = importlib.import_module(f"wave1d.{module_name}")
        except ImportError as error:
            sub = commands.add_parser(name, help=f"{summary} (not available: {error})")
            sub.set_defaults(execute=_unavailable(name, error))
            continue
        sub = commands.add_parser(name, help=summary)
        module.configure(sub)
        sub.set_defaults(execute=module.execute)
    return top


def _unavailable(name, error):
    def execute(args):
        print(f"python -m wave1d {name}: not available: {error}", file=sys.stderr)
        return 1
    return execute


def main(argv=None):
    """Runs the subcommand of argv (default: the command line); returns its exit status."""
    args = parser().parse_args(argv)
    return args.execute(args)


if __name__ == "__main__":
    sys.exit(main())
