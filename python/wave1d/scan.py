"""The scan command: wave1d on every combination of some values, each run in a folder of its
own, through GNU parallel (on this machine or over ssh) or a Slurm job array."""

import argparse
import ctypes
import fcntl
import math
import os
import shlex
import shutil
import signal
import subprocess
import sys
import time

from .commands import standalone
from .runs import ERRORS_FILE, INPUT_FILE, find_program, remove_stale
from .scans import ENDED_FILE, NOT_FINITE, PICTURE_FILE, RUN_BOUND, SCAN_FOLDER, \
    SUMMARY_FILE, Refusal, Scan, WriteFailure, summary_rows, summary_text, write_whole

DESCRIPTION = """\
Runs wave1d on every combination of some values. BASE is an input file of the twelve values;
each NAME=V1,V2,... gives the values of one of them to run. Every combination runs
"wave1d --norms input" in DIR/NAME=V,NAME=V, whose input file "input" is BASE with those
values; the folder also keeps the console (console.txt), standard error (errors.txt) and the
run's exit status and wall time (ended.tsv)."""

EPILOG = """\
Each run gets OMP_NUM_THREADS=1 (on Slurm, the job's cpus per task) unless it is set. Running
the same command again skips the runs that ended with status 0 on the same input and runs the
rest, once the runs of an earlier call of the folder have ended. A failed run does not stop the
others. Once the runs have ended, DIR/summary.tsv holds a row per run, with the number and
kinds of its warnings, and DIR/summary.png plots QUANTITY against the first NAME, one curve per
combination of the others (it needs matplotlib). Exits with 0 when every run ended with status
0 (warnings or not), 1 otherwise or when a file of the scan cannot be written, 2, before any
run, when the scan cannot be made, and 128 + the signal's number when stopped by a signal."""

# The states of a Slurm job that has ended.
SLURM_ENDED = frozenset(("COMPLETED", "FAILED", "CANCELLED", "TIMEOUT", "NODE_FAIL", "PREEMPTED",
                         "OUT_OF_MEMORY", "BOOT_FAIL", "DEADLINE", "SPECIAL_EXIT"))
EXIT_REFUSED = 2
# How long a stopped run may take to write out its last step before it is killed.
STOP_SECONDS = 10
# How many runs with warnings the closing message names.
NAMED_RUNS = 3
# The lock of the scan's process (a second scan of the folder is refused), and the lock that
# every process of its runs inherits (a scan of the folder waits until they have all ended).
SCAN_LOCK, RUNS_LOCK = "lock", "runs.lock"
SLURM_JOB = "slurm-job"
PR_SET_PDEATHSIG = 1


def run_script(folder, program, threads):
    """The shell script of one run, given the name of its folder in the scan's folder: the
    program on the folder's input, the console and standard error kept beside, the exit status
    and wall time written last."""
    return f"""#!/bin/sh
# One run of a wave1d scan: sh run NAME, NAME the run's folder in the scan's folder.
cd {shlex.quote(folder)} && cd "./$1" || exit 1
rm -f {ENDED_FILE}
OMP_NUM_THREADS={threads}
export OMP_NUM_THREADS
# The clock readings are not cut short by an interrupt, which would leave the time empty: the
# commands that read it ignore interrupts.
trap '' INT TERM HUP
start=$(date +%s.%N)
# An interrupt reaches the program, which ends its run cleanly; its status is recorded below.
trap : INT TERM HUP
{shlex.quote(program)} --norms {INPUT_FILE} >console.txt 2>{ERRORS_FILE}
status=$?
trap '' INT TERM HUP
end=$(date +%s.%N)
seconds=$(echo "$start $end" | awk '{{ printf "%.3f", $2 - $1 }}')
printf 'exit_status\\tseconds\\n%s\\t%s\\n' "$status" "$seconds" >{ENDED_FILE}.part
mv {ENDED_FILE}.part {ENDED_FILE}
"""


def say(prog, text):
    print(f"{prog}: {text}", file=sys.stderr, flush=True)


class Stop:
    """While in use, SIGINT, SIGTERM and SIGHUP are passed on to the engine's process (which
    stops its runs) instead of ending this one; the first signal received is kept."""

    SIGNALS = (signal.SIGINT, signal.SIGTERM, signal.SIGHUP)

    def __init__(self):
        self.process, self.received, self.count = None, None, 0

    def __enter__(self):
        self.before = {s: signal.signal(s, self.handle) for s in self.SIGNALS}
        return self

    def handle(self, number, frame):
        self.received, self.count = self.received or number, self.count + 1
        if self.process is not None and self.process.poll() is None:
            self.process.send_signal(number)

    def __exit__(self, *exception):
        for number, disposition in self.before.items():
            signal.signal(number, disposition)


def end_with_parent():
    """In a child before it starts its program: SIGTERM when this process ends, however."""
    ctypes.CDLL(None, use_errno=True).prctl(PR_SET_PDEATHSIG, signal.SIGTERM)


class Progress:
    """A progress line of the runs on standard error, when that is a terminal and tqdm can be
    imported; else nothing."""

    def __init__(self, scan, pending):
        self.scan, self.left, self.failed, self.bar = scan, list(pending), 0, None
        if sys.stderr.isatty():
            try:
                from tqdm import tqdm
            except ImportError:
                return
            self.bar = tqdm(total=len(pending), unit="run", file=sys.stderr, leave=False,
                            dynamic_ncols=True)

    def update(self):
        if self.bar is None:
            return
        done = [run for run in self.left if os.path.exists(self.scan.path(run[0], ENDED_FILE))]
        if done:
            self.failed += sum((self.scan.ended(run) or (1,))[0] != 0 for run in done)
            done = set(done)
            self.left = [run for run in self.left if run not in done]
            self.bar.set_postfix(failed=self.failed, left=len(self.left), refresh=False)
            self.bar.update(len(done))

    def close(self):
        if self.bar is not None:
            self.bar.close()


def run_locally(scan, pending, args, stop, runs_lock):
    """Runs the pending runs through GNU parallel, in a process group of its own so that each
    signal reaches it once, through stop. GNU parallel and every run hold runs_lock, and GNU
    parallel ends when this process ends."""
    # Stopped, GNU parallel signals the runs under way; the first signal ends a run cleanly once
    # its step and output are written, and a second one would end it at once. The script's path
    # and the run names come from files, as arguments that GNU parallel quotes (--quote) and
    # reads no replacement string in, so that no path is read by a shell.
    script = write_whole(scan.path(SCAN_FOLDER, "script"), scan.path(SCAN_FOLDER, "run") + "\0")
    listed = write_whole(scan.path(SCAN_FOLDER, "pending"),
                         "".join(name + "\0" for name, _ in pending))
    command = ["parallel", "--will-cite", "--quote", "--null", "--halt", "never", "--termseq",
               f"TERM,{STOP_SECONDS * 1000},KILL,25", "-a", script, "-a", listed]
    if args.jobs:
        command += ["-j", str(args.jobs)]
    elif not args.sshloginfile:
        command += ["-j", str(len(os.sched_getaffinity(0)))]
    if args.sshloginfile:
        command += ["--sshloginfile", args.sshloginfile]
    command += ["sh", "{1}", "{2}"]
    progress = Progress(scan, pending)
    stop.process = subprocess.Popen(command, stdin=subprocess.DEVNULL, start_new_session=True,
                                    pass_fds=(runs_lock.fileno(),), preexec_fn=end_with_parent)
    try:
        while stop.process.poll() is None:
            time.sleep(0.2)
            progress.update()
    finally:
        progress.close()
    # A run that GNU parallel started as the signal came may have escaped it. Still running, it
    # would write its files after this scan has ended, into the folder of the next call's run.
    if stop.received is not None:
        for process in session_processes(stop.process.pid):
            try:
                os.kill(process, stop.received)
            except ProcessLookupError:
                pass
    while session_processes(stop.process.pid):
        time.sleep(0.02)


def session_processes(session):
    """The processes of the session on this machine, zombies left out."""
    found = []
    for entry in filter(str.isdigit, os.listdir("/proc")):
        try:
            with open(f"/proc/{entry}/stat", encoding="ascii", errors="replace") as file:
                fields = file.read().rpartition(")")[2].split()
        except OSError:
            continue  # ended since the listing
        if fields[3] == str(session) and fields[0] != "Z":
            found.append(int(entry))
    return found


def slurm_job_active(job):
    """Whether any task of the Slurm job has not ended yet."""
    result = subprocess.run(["squeue", "-h", "-j", job, "-t", "all", "-o", "%T"],
                            capture_output=True, text=True)
    if result.returncode != 0:
        if "Invalid job id" in result.stderr:
            return False  # ended long enough ago for the controller to have forgotten it
        raise RuntimeError(f"squeue -j {job} failed: {result.stderr.strip()}")
    return any(state not in SLURM_ENDED for state in result.stdout.split())


def submitted_job(scan):
    """The Slurm job of the scan that may still be pending or running, or None."""
    try:
        with open(scan.path(SCAN_FOLDER, SLURM_JOB), encoding="ascii") as file:
            return file.read().strip() or None
    except FileNotFoundError:
        return None


def keep_out_of_slurm(scan):
    """Refusal while a Slurm array of the scan's folder is pending or running; once it has
    ended, its runs are the scan's like any others."""
    job = submitted_job(scan)
    if job is None:
        return
    if shutil.which("squeue") is None:
        raise Refusal(f"Slurm job {job} was submitted for {scan.folder}, and squeue is not here "
                      f"to tell whether it has ended; remove {scan.path(SCAN_FOLDER, SLURM_JOB)} "
                      "once it has")
    if slurm_job_active(job):
        raise Refusal(f"Slurm job {job} of the scan in {scan.folder} is pending or running; "
                      f"run the same command with --slurm to wait for it, or scancel {job}")
    remove_stale(scan.path(SCAN_FOLDER, SLURM_JOB))


def run_on_slurm(scan, pending, args, prog, stop):
    """Submits the pending runs as one job array and waits for it, unless told not to. A later
    call waits for the array of an earlier one, or gathers its results once it has ended,
    without submitting anything. True when the runs have ended."""
    job_path = scan.path(SCAN_FOLDER, SLURM_JOB)
    job = submitted_job(scan)
    if job is not None:
        say(prog, f"Slurm job {job} of this scan was submitted before")
    elif pending:
        scan.prepare(pending, stop)
        if stop.received:
            return False
        listed = write_whole(scan.path(SCAN_FOLDER, "slurm-runs"),
                             "".join(name + "\n" for name, _ in pending))
        write_whole(scan.path(SCAN_FOLDER, "slurm-array.sh"), f"""#!/bin/sh
# One task of a wave1d scan's job array: the run on line SLURM_ARRAY_TASK_ID of the list.
name=$(sed -n "${{SLURM_ARRAY_TASK_ID}}p" {shlex.quote(listed)})
exec sh {shlex.quote(scan.path(SCAN_FOLDER, "run"))} "$name"
""")
        # Submitted from the scan's own folder, so that no path of it is read by Slurm's file
        # name patterns.
        command = ["sbatch", "--parsable", f"--array=1-{len(pending)}", "--job-name=wave1d-scan",
                   "--output=slurm-%A_%a.out"]
        for words in args.sbatch:
            command += shlex.split(words)
        result = subprocess.run(command + ["slurm-array.sh"], stdin=subprocess.DEVNULL,
                                capture_output=True, text=True, cwd=scan.path(SCAN_FOLDER))
        if result.returncode != 0:
            raise RuntimeError(f"sbatch failed with status {result.returncode}: "
                               f"{result.stderr.strip()}")
        job = result.stdout.strip().split(";")[0]
        write_whole(job_path, job + "\n")
        say(prog, f"submitted Slurm job {job}: an array of {len(pending)} runs")
    else:
        return True
    if args.no_wait and slurm_job_active(job):
        say(prog, f"job {job} has not ended; run the same command again to gather its results")
        return False
    next_look, pause = 0.0, 1.0
    progress = Progress(scan, pending)
    try:
        while stop.received is None:
            if time.monotonic() >= next_look:
                if not slurm_job_active(job):
                    break
                progress.update()
                next_look, pause = time.monotonic() + pause, min(pause * 1.5, 20.0)
            time.sleep(0.2)
    finally:
        progress.close()
    if stop.received is not None:
        say(prog, f"stopped waiting; Slurm job {job} runs on (scancel {job} stops it)")
        return False
    remove_stale(job_path)
    return True


def draw_summary(scan, header, rows, quantity, prog):
    """summary.png: quantity against the first varied value, one curve per combination of the
    others; a run that ended with a value that is not finite is marked at the top."""
    try:
        # A Figure of its own, not pyplot: the backend of a notebook that calls this stays.
        from matplotlib.figure import Figure
    except ImportError:
        say(prog, f"warning: no {PICTURE_FILE}: matplotlib cannot be imported "
                  "(on Debian: apt-get install python3-matplotlib)")
        return
    column, status, first = header.index(quantity), header.index("exit_status"), 1
    curves, blown = {}, []
    for row in rows:
        others = ", ".join(f"{n}={v}" for n, v in zip(scan.names[1:], row[first + 1:]))
        x, y = float(row[first]), float(row[column])
        if math.isfinite(y):
            curves.setdefault(others, []).append((x, y))
        elif row[status] != "nan":
            blown.append(x)
    figure = Figure(figsize=(8, 5.6), dpi=100)
    axes = figure.subplots()
    for label, points in curves.items():
        points.sort()
        axes.plot([p[0] for p in points], [p[1] for p in points], "o-", label=label or None)
    if blown:
        # At the top of the axes, whatever their scale.
        axes.plot(blown, [0.97] * len(blown), "x", color="red", markersize=10,
                  transform=axes.get_xaxis_transform(), label=f"{quantity} not finite")
    values = [abs(y) for points in curves.values() for _, y in points if y != 0]
    if values and min(y for points in curves.values() for _, y in points) > 0 and \
            max(values) > 1000 * min(values):
        axes.set_yscale("log")
        # Set here: the automatic margins of a blow-up near the largest double overflow.
        axes.set_ylim(min(values) / 10, min(max(values) * 10, 1e300))
    axes.set_xlabel(scan.names[0])
    axes.set_ylabel(quantity)
    axes.set_title(f"{quantity} against {scan.names[0]}: scan in {os.path.basename(scan.folder)}")
    if len(curves) > 1 or blown:
        axes.legend(fontsize="small")
    axes.grid(True, alpha=0.3)
    figure.tight_layout()
    part = scan.path(SCAN_FOLDER, PICTURE_FILE)
    try:
        figure.savefig(part, format="png")
        os.replace(part, scan.path(PICTURE_FILE))
    except OSError as error:
        raise WriteFailure(f"cannot write {scan.path(PICTURE_FILE)}: {error.strerror}") from None


def positive(text):
    """An argparse type: a whole number of 1 or more."""
    if not text.isdigit() or int(text) < 1:
        raise argparse.ArgumentTypeError(f'takes a number of 1 or more, not "{text}"')
    return int(text)


def final_time(text):
    """An argparse type: a time above 0."""
    try:
        value = float(text.translate(str.maketrans("Dd", "ee")))
    except ValueError:
        value = math.nan
    if not (math.isfinite(value) and value > 0):
        raise argparse.ArgumentTypeError(f'takes a time above 0, not "{text}"')
    return value


def configure(parser):
    """Adds the scan's arguments, description and epilog to parser."""
    parser.description, parser.epilog = DESCRIPTION, EPILOG
    parser.formatter_class = argparse.RawDescriptionHelpFormatter
    parser.set_defaults(scan_prog=parser.prog)
    parser.add_argument("base", metavar="BASE", help="input file of the twelve values")
    parser.add_argument("assignments", metavar="NAME=V1,V2,...", nargs="*",
                        help="values of one of the twelve to run")
    parser.add_argument("-o", dest="folder", metavar="DIR", default="scan",
                        help="the scan's folder (default: scan)")
    parser.add_argument("-j", dest="jobs", metavar="N", type=positive,
                        help="runs at once through GNU parallel (default: one per processor; "
                             "with --sshloginfile, one per processor of each machine)")
    parser.add_argument("--sshloginfile", metavar="FILE",
                        help="spread the runs over the machines of FILE with GNU parallel; DIR "
                             "and the program must have the same paths on every machine")
    parser.add_argument("--slurm", action="store_true",
                        help="submit one Slurm job array of the runs instead, and wait for it")
    parser.add_argument("--no-wait", action="store_true",
                        help="with --slurm: return once submitted; the same command run again "
                             "later waits for the array, or gathers its results once it has "
                             "ended")
    parser.add_argument("--sbatch", metavar="OPTIONS", action="append", default=[],
                        help="with --slurm: more sbatch options, as one word (may be repeated)")
    parser.add_argument("-w", dest="program", metavar="WAVE1D",
                        help="the program (default: $WAVE1D, then the checkout's build/wave1d, "
                             "then wave1d beside this tool, then wave1d on the PATH)")
    parser.add_argument("--plot", dest="quantity", metavar="QUANTITY",
                        default="final_max_abs_phi",
                        help="the column of the summary that summary.png shows: exit_status, "
                             "warnings, seconds or a final_ norm (default: final_max_abs_phi)")
    parser.add_argument("--final-time", metavar="T", type=final_time,
                        help="give each run the whole number of steps nearest to T/dt (its "
                             "nt), so that every run ends within half a step of T")
    parser.add_argument("--outputs", metavar="K", type=positive,
                        help="give each run an output interval (its every_1D) of about nt/K "
                             "steps that divides nt, so that its last step is written")
    parser.add_argument("--max-runs", metavar="N", type=positive, default=RUN_BOUND,
                        help=f"the most runs a scan may have (default: {RUN_BOUND})")


def check_arguments(args):
    """Refusal for arguments that do not go together or name what is not there."""
    if args.quantity not in ("exit_status", "warnings", "seconds") and \
            not args.quantity.startswith("final_"):
        raise Refusal("--plot takes exit_status, warnings, seconds or a final_ norm such as "
                      f'final_max_abs_phi, not "{args.quantity}"')
    if args.slurm and (args.jobs or args.sshloginfile):
        raise Refusal("--slurm runs the array on the cluster: -j and --sshloginfile do not apply")
    if not args.slurm and (args.no_wait or args.sbatch):
        raise Refusal("--no-wait and --sbatch go with --slurm")
    if args.sshloginfile and not os.path.isfile(args.sshloginfile):
        raise Refusal(f"the --sshloginfile {args.sshloginfile} is not a file")
    engine = "sbatch" if args.slurm else "parallel"
    if shutil.which(engine) is None:
        raise Refusal(f"{engine} is not on the PATH (on Debian: apt-get install " +
                      ("slurm-client" if args.slurm else "parallel") + ")")


def lock(scan, name, stop, prog):
    """The open file of one of the scan's locks, held: the scan lock is refused when held
    elsewhere; the runs lock is waited for. None when stop.received is set while waiting."""
    path = scan.path(SCAN_FOLDER, name)
    try:
        file = open(path, "a")
    except OSError as error:
        raise WriteFailure(f"cannot write {path}: {error.strerror}") from None
    told = False
    while True:
        try:
            fcntl.flock(file, fcntl.LOCK_EX | fcntl.LOCK_NB)
            return file
        except BlockingIOError:
            if name == SCAN_LOCK:
                file.close()
                raise Refusal(f"another scan is running in {scan.folder}") from None
        if stop.received:
            file.close()
            return None
        if not told:
            say(prog, f"waiting for the runs of an earlier scan in {scan.folder} to end")
            told = True
        time.sleep(0.1)


def execute(args):
    """The scan of parsed arguments; returns the exit status."""
    prog = getattr(args, "scan_prog", None) or "wave1d-scan"
    with Stop() as stop:
        try:
            return scan_folder(args, prog, stop)
        except Refusal as refusal:
            say(prog, str(refusal))
            return EXIT_REFUSED
        except (WriteFailure, RuntimeError) as failure:
            say(prog, str(failure))
            return 1


def scan_folder(args, prog, stop):
    """The work of execute, raising Refusal or WriteFailure."""
    check_arguments(args)
    try:
        program = find_program(args.program, getattr(args, "beside", None))
    except FileNotFoundError as error:
        raise Refusal(str(error)) from None
    scan = Scan(args.folder, args.base, args.assignments, args.max_runs, args.final_time,
                args.outputs)
    if stop.received:
        return 128 + stop.received
    if os.path.exists(scan.folder) and not os.path.isdir(scan.folder):
        raise Refusal(f"{args.folder} is not a folder")
    try:
        os.makedirs(scan.path(SCAN_FOLDER), exist_ok=True)
    except OSError as error:
        raise WriteFailure(f"cannot make {scan.path(SCAN_FOLDER)}: {error.strerror}") from None
    with lock(scan, SCAN_LOCK, stop, prog):
        runs_lock = lock(scan, RUNS_LOCK, stop, prog)
        if runs_lock is None:
            return 128 + stop.received
        with runs_lock:
            if not args.slurm:
                keep_out_of_slurm(scan)
            return run_and_sum_up(scan, program, args, prog, stop, runs_lock)


def run_and_sum_up(scan, program, args, prog, stop, runs_lock):
    pending = []
    for run in scan.runs:
        if stop.received:
            return 128 + stop.received
        if (scan.ended(run) or (1,))[0] != 0:
            pending.append(run)
    threads = os.environ.get("OMP_NUM_THREADS")
    threads = shlex.quote(threads) if threads else (
        "${SLURM_CPUS_PER_TASK:-1}" if args.slurm else "1")
    # Replaced whole: tasks of an earlier Slurm array may be starting it right now.
    write_whole(scan.path(SCAN_FOLDER, "run"), run_script(scan.folder, program, threads))
    done = len(scan.runs) - len(pending)
    say(prog, f"{len(scan.runs)} runs in {scan.folder}: {done} ended with status 0 before, "
              f"{len(pending)} to run")
    if args.slurm:
        if not run_on_slurm(scan, pending, args, prog, stop):
            return 0 if stop.received is None else 128 + stop.received
    elif pending:
        scan.prepare(pending, stop)
        if not stop.received:
            run_locally(scan, pending, args, stop, runs_lock)
    if stop.received is not None and stop.process is None:
        return 128 + stop.received  # before any run started
    # Made after a signal too, of the runs that ended; a second signal stops it.
    signals = stop.count
    summary = summary_rows(scan, lambda: stop.count > signals)
    if summary is None:
        return 128 + stop.received
    header, rows = summary
    write_whole(scan.path(SUMMARY_FILE), summary_text(header, rows))
    if stop.received is None and args.quantity in header:
        try:
            draw_summary(scan, header, rows, args.quantity, prog)
        except (ArithmeticError, ValueError) as error:
            # The summary is written; a picture that cannot be drawn does not fail the scan.
            say(prog, f"warning: no {PICTURE_FILE}: {error}")
    else:
        # A picture of an earlier summary would not match this one.
        remove_stale(scan.path(PICTURE_FILE))
        if stop.received is None:
            say(prog, f"no {PICTURE_FILE}: the summary has no column {args.quantity}")
    failed = sum_up(scan, header, rows, prog)
    if stop.received is not None:
        return 128 + stop.received
    return 1 if failed else 0


def sum_up(scan, header, rows, prog):
    """Names the runs that failed and a few with warnings; returns the number that failed."""
    status, warned, kinds = (header.index(c) for c in ("exit_status", "warnings",
                                                         "warning_kinds"))
    failed = [row for row in rows if row[status] != "0"]
    for row in failed:
        if row[status] == "nan":
            say(prog, f"{row[0]}: did not end")
            continue
        try:
            with open(scan.path(row[0], ERRORS_FILE), encoding="utf-8",
                      errors="replace") as file:
                last = (file.read().strip().splitlines() or [""])[-1]
        except OSError:
            last = ""
        say(prog, f"{row[0]}: exit status {row[status]}" + (f": {last}" if last else ""))
    warnings = [row for row in rows if row[warned] not in ("0", "nan")]
    named = "; ".join(f"{row[0]} ({row[kinds]})" for row in warnings[:NAMED_RUNS])
    more = f" and {len(warnings) - NAMED_RUNS} more" if len(warnings) > NAMED_RUNS else ""
    blown = sum(NOT_FINITE in row[kinds] for row in rows)
    say(prog, f"{len(rows) - len(failed)} of {len(rows)} runs ended with status 0; " +
        (f"{len(warnings)} with warnings: {named}{more}" +
         (f"; phi not finite in {blown}" if blown else "") + "; " if warnings else "") +
        f"summary in {scan.path(SUMMARY_FILE)}")
    return len(failed)


def main(argv=None, prog=None, beside=None):
    """The scan command on its own: see commands.standalone."""
    return standalone(configure, execute, "wave1d-scan", argv, prog, beside)


if __name__ == "__main__":
    sys.exit(main(prog="python3 -m wave1d.scan"))
