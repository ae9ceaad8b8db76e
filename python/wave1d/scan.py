"""Runs wave1d on every combination of some values, each run in a folder of its own.

  tools/scan [-o DIR] [-j N] [--sshloginfile FILE] [-w WAVE1D] [--plot QUANTITY] BASE NAME=V1,V2,...
  tools/scan --slurm [--no-wait] [--sbatch=OPTIONS] [-o DIR] ... BASE NAME=V1,V2,...

BASE is an input file of the twelve values; each NAME=V1,V2,... gives the values of one of them
to run. Every combination runs "wave1d --norms input" in DIR/NAME=V,NAME=V (DIR defaults to
"scan"), whose input file "input" is BASE with those values; the folder also keeps the console
(console.txt), standard error (errors.txt) and the run's exit status and wall time (ended.tsv).

  -o DIR               the scan's folder (default: scan)
  -j N                 runs at once through GNU parallel (default: one per processor; with
                       --sshloginfile, one per processor of each machine)
  --sshloginfile FILE  spread the runs over the machines of FILE with GNU parallel; DIR and
                       the program must have the same paths on every machine
  --slurm              submit one Slurm job array of the runs instead, and wait for it
  --no-wait            with --slurm: return once submitted; the same command run again later
                       waits for the array, or gathers its results once it has ended
  --sbatch=OPTIONS     with --slurm: more sbatch options, as one word (may be repeated)
  -w WAVE1D            the program (default: $WAVE1D, then the checkout's build/wave1d, then
                       wave1d beside this tool, then wave1d on the PATH)
  --plot QUANTITY      the column of the summary that summary.png shows (default:
                       final_max_abs_phi)

Each run gets OMP_NUM_THREADS=1 (on Slurm, the job's cpus per task) unless it is set. Running
the same command again skips the runs that ended with status 0 on the same input and runs the
rest. A failed run does not stop the others. Once the runs have ended, DIR/summary.tsv holds a
row per run and DIR/summary.png plots QUANTITY against the first NAME, one curve per
combination of the others (it needs matplotlib). Exits with 0 when every run ended with status
0, 1 otherwise, and 2, before any run, when the scan cannot be made: an unknown name, an empty
list, a value the input cannot hold, or a BASE the program cannot read.
"""

import fcntl
import itertools
import math
import os
import shlex
import shutil
import signal
import subprocess
import sys
import time

from .inputs import NAMES, InputError, input_text, read_input, value_of, value_text
from .runs import ERRORS_FILE, INPUT_FILE, NORMS_FILE, find_program, remove_stale

ENDED_FILE = "ended.tsv"
# The scan's own files, beside the run folders: the script of one run, the lists of runs
# handed to the engines, the lock, the Slurm job and its logs.
SCAN_FOLDER = ".scan"
SUMMARY_FILE = "summary.tsv"
PICTURE_FILE = "summary.png"
NORM_COLUMNS = (("final_time", "time"), ("final_max_abs_phi", "max_abs_phi"),
                ("final_energy", "energy"), ("final_l2_constraint", "l2_constraint"))
QUANTITIES = ("exit_status",) + tuple(column for column, _ in NORM_COLUMNS) + ("seconds",)
# The states of a Slurm job that has ended.
SLURM_ENDED = frozenset(("COMPLETED", "FAILED", "CANCELLED", "TIMEOUT", "NODE_FAIL", "PREEMPTED",
                         "OUT_OF_MEMORY", "BOOT_FAIL", "DEADLINE", "SPECIAL_EXIT"))
EXIT_REFUSED = 2
# How long a stopped run may take to write out its last step before it is killed.
STOP_SECONDS = 10


class Refusal(Exception):
    """The scan cannot be made as asked: nothing has run."""


class Scan:
    """The runs of a scan: their folders and the varied values, in the order of the command."""

    def __init__(self, folder, base, assignments):
        self.folder = os.path.abspath(folder)
        try:
            base_texts = read_input(base)
        except OSError as error:
            raise Refusal(f"cannot read {base}: {error.strerror}") from None
        except InputError as error:
            raise Refusal(str(error)) from None
        if not assignments:
            raise Refusal("no values to scan: give NAME=V1,V2,... after BASE")
        self.names, lists = [], []
        for assignment in assignments:
            name, equals, values = assignment.partition("=")
            if not equals:
                raise Refusal(f'"{assignment}" is not NAME=V1,V2,...')
            if name not in NAMES:
                raise Refusal(f'"{name}" is not one of the twelve values: {", ".join(NAMES)}')
            if name in self.names:
                raise Refusal(f"{name} is given twice")
            texts = values.split(",")
            if "" in texts:
                raise Refusal(f"{assignment}: an empty value" if values else
                              f"{name}= lists no value")
            numbers = {}
            for text in texts:
                try:
                    number = value_of(name, value_text(name, text))
                except InputError as error:
                    raise Refusal(f"{assignment}: {error}") from None
                if number in numbers:
                    raise Refusal(f"{assignment}: {text} is {numbers[number]} again")
                numbers[number] = text
            self.names.append(name)
            lists.append(texts)
        self.runs = []  # (folder name, varied value texts, input file text)
        for combination in itertools.product(*lists):
            texts = dict(base_texts, **dict(zip(self.names, combination)))
            name = ",".join(f"{n}={v}" for n, v in zip(self.names, combination))
            self.runs.append((name, combination, input_text(texts)))

    def path(self, *parts):
        return os.path.join(self.folder, *parts)

    def ended(self, run):
        """The exit status and seconds of run from its ended.tsv, or None when it has not ended
        on its present input."""
        name, _, text = run
        try:
            with open(self.path(name, INPUT_FILE), encoding="utf-8") as file:
                if file.read() != text:
                    return None
            with open(self.path(name, ENDED_FILE), encoding="ascii") as file:
                status, seconds = file.read().split("\n")[1].split("\t")
            return int(status), seconds
        except (OSError, ValueError, IndexError):
            return None

    def prepare(self, runs):
        """Writes the input file of each run anew, and forgets how it ended before and the
        summary made of it."""
        for stale in (SUMMARY_FILE, PICTURE_FILE):
            remove_stale(self.path(stale))
        for name, _, text in runs:
            os.makedirs(self.path(name), exist_ok=True)
            for stale in (ENDED_FILE, NORMS_FILE):
                remove_stale(self.path(name, stale))
            with open(self.path(name, INPUT_FILE), "w", encoding="utf-8") as file:
                file.write(text)

    def write_file(self, file_name, text):
        """Writes a file of the scan's own, under another name first and then renamed."""
        path = self.path(SCAN_FOLDER, file_name)
        with open(path + ".part", "w", encoding="utf-8") as file:
            file.write(text)
        os.replace(path + ".part", path)
        return path

    def write_list(self, file_name, runs):
        return self.write_file(file_name, "".join(self.path(name) + "\n" for name, _, _ in runs))


def run_script(program, threads):
    """The shell script of one run, given its folder: the program on the folder's input, the
    console and standard error kept beside, the exit status and wall time written last."""
    return f"""#!/bin/sh
# One run of a wave1d scan: sh run FOLDER
cd "$1" || exit 1
rm -f {ENDED_FILE}
# An interrupt reaches the program, which ends its run cleanly; its status is recorded below.
trap : INT TERM HUP
OMP_NUM_THREADS={threads}
export OMP_NUM_THREADS
start=$(date +%s.%N)
{shlex.quote(program)} --norms {INPUT_FILE} >console.txt 2>{ERRORS_FILE}
status=$?
end=$(date +%s.%N)
seconds=$(echo "$start $end" | awk '{{ printf "%.3f", $2 - $1 }}')
printf 'exit_status\\tseconds\\n%s\\t%s\\n' "$status" "$seconds" >{ENDED_FILE}.part
mv {ENDED_FILE}.part {ENDED_FILE}
"""


def say(prog, text):
    print(f"{prog}: {text}", file=sys.stderr, flush=True)


class Forwarded:
    """While in use, SIGINT, SIGTERM and SIGHUP are passed on to the engine's process (which
    stops its runs) instead of ending this one; the first signal received is kept."""

    SIGNALS = (signal.SIGINT, signal.SIGTERM, signal.SIGHUP)

    def __init__(self):
        self.process, self.received = None, None

    def __enter__(self):
        self.before = {s: signal.signal(s, self.handle) for s in self.SIGNALS}
        return self

    def handle(self, number, frame):
        self.received = self.received or number
        if self.process is not None and self.process.poll() is None:
            self.process.send_signal(number)

    def __exit__(self, *exception):
        for number, disposition in self.before.items():
            signal.signal(number, disposition)


def run_locally(scan, pending, options, stop):
    """Runs the pending runs through GNU parallel, in a process group of its own so that each
    signal reaches it once, through stop."""
    # Stopped, GNU parallel signals the runs under way; the first signal ends a run cleanly once
    # its step and output are written, and a second one would end it at once.
    command = ["parallel", "--will-cite", "--halt", "never", "--termseq",
               f"TERM,{STOP_SECONDS * 1000},KILL,25", "-a",
               scan.write_list("pending", pending)]
    if options.jobs:
        command += ["-j", str(options.jobs)]
    elif not options.sshloginfile:
        command += ["-j", str(len(os.sched_getaffinity(0)))]
    if options.sshloginfile:
        command += ["--sshloginfile", options.sshloginfile]
    command += ["sh", scan.path(SCAN_FOLDER, "run"), "{}"]
    stop.process = subprocess.Popen(command, stdin=subprocess.DEVNULL,
                                    start_new_session=True)
    while stop.process.poll() is None:
        try:
            stop.process.wait()
        except InterruptedError:
            pass
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


def run_on_slurm(scan, pending, options, prog, stop):
    """Submits the pending runs as one job array and waits for it, unless told not to. A later
    call waits for the array of an earlier one, or gathers its results once it has ended,
    without submitting anything. True when the runs have ended."""
    job_path = scan.path(SCAN_FOLDER, "slurm-job")
    if os.path.exists(job_path):
        with open(job_path, encoding="ascii") as file:
            job = file.read().strip()
        say(prog, f"Slurm job {job} of this scan was submitted before")
    elif pending:
        scan.prepare(pending)
        script = scan.write_file("slurm-array.sh", f"""#!/bin/sh
# One task of a wave1d scan's job array: the run on line SLURM_ARRAY_TASK_ID of the list.
folder=$(sed -n "${{SLURM_ARRAY_TASK_ID}}p" {shlex.quote(scan.write_list("slurm-runs", pending))})
exec sh {shlex.quote(scan.path(SCAN_FOLDER, "run"))} "$folder"
""")
        command = ["sbatch", "--parsable", f"--array=1-{len(pending)}", "--job-name=wave1d-scan",
                   "--output=" + scan.path(SCAN_FOLDER, "slurm-%A_%a.out")]
        for words in options.sbatch:
            command += shlex.split(words)
        result = subprocess.run(command + [script], stdin=subprocess.DEVNULL,
                                capture_output=True, text=True)
        if result.returncode != 0:
            raise RuntimeError(f"sbatch failed with status {result.returncode}: "
                               f"{result.stderr.strip()}")
        job = result.stdout.strip().split(";")[0]
        with open(job_path, "w", encoding="ascii") as file:
            file.write(job + "\n")
        say(prog, f"submitted Slurm job {job}: an array of {len(pending)} runs")
    else:
        return True
    if options.no_wait and slurm_job_active(job):
        say(prog, f"job {job} has not ended; run the same command again to gather its results")
        return False
    next_look, pause = 0.0, 1.0
    while stop.received is None:
        if time.monotonic() >= next_look:
            if not slurm_job_active(job):
                break
            next_look, pause = time.monotonic() + pause, min(pause * 1.5, 20.0)
        time.sleep(0.2)
    if stop.received is not None:
        say(prog, f"stopped waiting; Slurm job {job} runs on (scancel {job} stops it)")
        return False
    os.unlink(job_path)
    return True


def last_norms(path):
    """The texts of the norms of the last row of a norms.tsv by column name; empty when the
    file is missing or holds no row."""
    try:
        with open(path, encoding="ascii") as file:
            lines = file.read().split("\n")
    except (OSError, UnicodeDecodeError):
        return {}
    rows = [line for line in lines[1:-1] if line]
    if not lines[0].startswith("#") or not rows:
        return {}
    return dict(zip(lines[0][1:].split(), rows[-1].split("\t")))


def summary_rows(scan):
    """The header and one row per run of the summary; a value not known is nan."""
    header = ["folder"] + scan.names + [column for column in QUANTITIES]
    rows = []
    for run in scan.runs:
        name, combination, _ = run
        ended = scan.ended(run)
        norms = last_norms(scan.path(name, NORMS_FILE)) if ended else {}
        # As given, in a form that every reader of numbers takes.
        values = [v.translate(str.maketrans("Dd", "ee")) for v in combination]
        rows.append([name] + values + [str(ended[0]) if ended else "nan"] +
                    [norms.get(column, "nan") for _, column in NORM_COLUMNS] +
                    [ended[1] if ended else "nan"])
    return header, rows


def write_summary(scan, header, rows):
    written = scan.write_file(SUMMARY_FILE, "".join("\t".join(row) + "\n"
                                                    for row in [header] + rows))
    os.replace(written, scan.path(SUMMARY_FILE))


def draw_summary(scan, header, rows, quantity, prog):
    """summary.png: quantity against the first varied value, one curve per combination of the
    others; points whose value is not finite are left out."""
    try:
        from matplotlib.backends.backend_agg import FigureCanvasAgg
        from matplotlib.figure import Figure
    except ImportError:
        say(prog, f"warning: no {PICTURE_FILE}: matplotlib cannot be imported "
                  "(on Debian: apt-get install python3-matplotlib)")
        return
    column, first = header.index(quantity), 1
    curves = {}
    for row in rows:
        others = ", ".join(f"{n}={v}" for n, v in zip(scan.names[1:], row[first + 1:]))
        x, y = float(row[first]), float(row[column])
        if math.isfinite(y):
            curves.setdefault(others, []).append((x, y))
    figure = Figure(figsize=(8, 5.6), dpi=100)
    FigureCanvasAgg(figure)
    axes = figure.subplots()
    for label, points in curves.items():
        points.sort()
        axes.plot([p[0] for p in points], [p[1] for p in points], "o-", label=label or None)
    values = [abs(y) for points in curves.values() for _, y in points if y != 0]
    if values and min(y for points in curves.values() for _, y in points) > 0 and \
            max(values) > 1000 * min(values):
        axes.set_yscale("log")
    axes.set_xlabel(scan.names[0])
    axes.set_ylabel(quantity)
    axes.set_title(f"{quantity} against {scan.names[0]}: scan in {os.path.basename(scan.folder)}")
    if len(curves) > 1:
        axes.legend(fontsize="small")
    axes.grid(True, alpha=0.3)
    figure.tight_layout()
    part = scan.path(SCAN_FOLDER, PICTURE_FILE)
    figure.savefig(part, format="png")
    os.replace(part, scan.path(PICTURE_FILE))


class Options:
    def __init__(self):
        self.folder, self.jobs, self.sshloginfile, self.slurm = "scan", None, None, False
        self.no_wait, self.sbatch, self.program = False, [], None
        self.quantity = "final_max_abs_phi"
        self.words = []


def read_options(argv, prog):
    """The options and the other words of the command line; Refusal for what is not understood.
    Exits after printing the usage for -h or --help."""
    options = Options()
    valued = {"-o": "folder", "-j": "jobs", "--sshloginfile": "sshloginfile", "-w": "program",
              "--plot": "quantity", "--sbatch": "sbatch"}
    items = iter(argv)
    for item in items:
        option, equals, value = item.partition("=")
        if item in ("-h", "--help"):
            print(__doc__.replace("tools/scan", prog), end="")
            sys.exit(0)
        elif item == "--slurm":
            options.slurm = True
        elif item == "--no-wait":
            options.no_wait = True
        elif option in valued and (equals or option in ("-o", "-j", "-w")) or item in valued:
            if not equals:
                value = next(items, None)
                if value is None:
                    raise Refusal(f"{item} needs a value")
            if option == "--sbatch":
                options.sbatch.append(value)
            else:
                setattr(options, valued[option], value)
        elif item.startswith("-") and item != "-":
            raise Refusal(f"unknown option {item}; {prog} --help shows the usage")
        else:
            options.words.append(item)
    if options.jobs is not None:
        if not options.jobs.isdigit() or int(options.jobs) < 1:
            raise Refusal(f'-j takes a number of runs at once of 1 or more, not "{options.jobs}"')
        options.jobs = int(options.jobs)
    if options.quantity not in QUANTITIES:
        raise Refusal(f'--plot takes one of {", ".join(QUANTITIES)}, not "{options.quantity}"')
    if options.slurm and (options.jobs or options.sshloginfile):
        raise Refusal("--slurm runs the array on the cluster: -j and --sshloginfile do not apply")
    if not options.slurm and (options.no_wait or options.sbatch):
        raise Refusal("--no-wait and --sbatch go with --slurm")
    if options.sshloginfile and not os.path.isfile(options.sshloginfile):
        raise Refusal(f"the --sshloginfile {options.sshloginfile} is not a file")
    if not options.words:
        raise Refusal(f"expected BASE NAME=V1,V2,...; {prog} --help shows the usage")
    engine = "sbatch" if options.slurm else "parallel"
    if shutil.which(engine) is None:
        raise Refusal(f"{engine} is not on the PATH (on Debian: apt-get install " +
                      ("slurm-client" if options.slurm else "parallel") + ")")
    return options


def locked(scan):
    """Holds the scan's lock until the process ends; Refusal when another call holds it."""
    lock = open(scan.path(SCAN_FOLDER, "lock"), "w")
    try:
        fcntl.flock(lock, fcntl.LOCK_EX | fcntl.LOCK_NB)
    except BlockingIOError:
        raise Refusal(f"another scan is running in {scan.folder}") from None
    return lock


def main(argv=None, prog=None, beside=None):
    """The scan of the command line argv; returns the exit status."""
    if argv is None:
        argv, prog = sys.argv[1:], os.path.basename(sys.argv[0])
    if not prog or prog.endswith(".py"):
        prog = "python3 -m wave1d.scan"
    try:
        options = read_options(argv, prog)
        program = find_program(options.program, beside)
        scan = Scan(options.folder, options.words[0], options.words[1:])
        if os.path.exists(scan.folder) and not os.path.isdir(scan.folder):
            raise Refusal(f"{options.folder} is not a folder")
        os.makedirs(scan.path(SCAN_FOLDER), exist_ok=True)
        lock = locked(scan)
    except (Refusal, FileNotFoundError) as refusal:
        say(prog, str(refusal))
        return EXIT_REFUSED
    except OSError as error:
        say(prog, f"cannot make the scan's folder {options.folder}: {error.strerror}")
        return EXIT_REFUSED

    with lock, Forwarded() as stop:
        pending = [run for run in scan.runs if (scan.ended(run) or (1,))[0] != 0]
        threads = os.environ.get("OMP_NUM_THREADS")
        threads = shlex.quote(threads) if threads else (
            "${SLURM_CPUS_PER_TASK:-1}" if options.slurm else "1")
        # Replaced whole: tasks of an earlier Slurm array may be starting it right now.
        scan.write_file("run", run_script(program, threads))
        done = len(scan.runs) - len(pending)
        say(prog, f"{len(scan.runs)} runs in {scan.folder}: {done} ended with status 0 before, "
                  f"{len(pending)} to run")
        try:
            if options.slurm:
                if not run_on_slurm(scan, pending, options, prog, stop):
                    return 0 if stop.received is None else 128 + stop.received
            elif pending:
                scan.prepare(pending)
                run_locally(scan, pending, options, stop)
        except (OSError, RuntimeError) as error:
            say(prog, str(error))
            return 1
        header, rows = summary_rows(scan)
        write_summary(scan, header, rows)
        draw_summary(scan, header, rows, options.quantity, prog)

    failed = [row for row in rows if row[len(scan.names) + 1] != "0"]
    for row in failed:
        status = row[len(scan.names) + 1]
        if status == "nan":
            say(prog, f"{row[0]}: did not end")
        else:
            try:
                with open(scan.path(row[0], ERRORS_FILE), encoding="utf-8",
                          errors="replace") as file:
                    last = (file.read().strip().splitlines() or [""])[-1]
            except OSError:
                last = ""
            say(prog, f"{row[0]}: exit status {status}" + (f": {last}" if last else ""))
    say(prog, f"{len(rows) - len(failed)} of {len(rows)} runs ended with status 0; "
              f"summary in {scan.path(SUMMARY_FILE)}")
    if stop.received is not None:
        return 128 + stop.received
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
