// The viewer page of tools/view: reads the profiles held in the page, draws one frame at a time
// with dygraphs, and keeps the element #status and the address's #frame=K&diff=1 in step with
// what it shows.
"use strict";

(function () {
    const facts = JSON.parse(document.getElementById("facts").textContent);
    const element = (id) => document.getElementById(id);

    // The value of a field as the profile files write it: "-2.50000000E-03", an exponent of
    // three digits without the letter ("1.58000000+157"), "Infinity", "-Infinity", "NaN".
    function value_of(text) {
        const value = Number(text);
        if (!Number.isNaN(value) || text === "NaN") return value;
        const bare = /^([-+]?[0-9.]+)([-+][0-9]+)$/.exec(text);
        return bare ? Number(bare[1] + "e" + bare[2]) : NaN;
    }

    // A value as the files write it, without the blanks in front: 9 significant digits, two
    // exponent digits after an E, or three without it; zero without a sign.
    function written(value) {
        if (Number.isNaN(value)) return "NaN";
        if (!Number.isFinite(value)) return value > 0 ? "Infinity" : "-Infinity";
        if (value === 0) return "0.00000000E+00";
        const [mantissa, power] = value.toExponential(8).split("e");
        const exponent = Math.abs(Number(power));
        return mantissa + (exponent >= 100 ? "" : "E") + power[0] +
            String(exponent).padStart(2, "0");
    }

    // The place of the largest |value|, NaN left out; -1 when there is none.
    function largest_place(values) {
        let place = -1;
        for (let i = 0; i < values.length; i++)
            if (values[i] === values[i] &&
                (place < 0 || Math.abs(values[i]) > Math.abs(values[place])))
                place = i;
        return place;
    }

    function numbers(texts) {
        const values = new Float64Array(texts.length);
        for (let i = 0; i < texts.length; i++) values[i] = value_of(texts[i]);
        return values;
    }

    // One run from its text in the page: "X x..." sets the points of the blocks that follow,
    // "T time phi..." is one output time. Only the times are read here; the values of a frame
    // when it is first shown (frame_values).
    function read_run(text, name) {
        const frames = [];
        let points = null;
        for (const line of text.split("\n")) {
            if (line.startsWith("X ")) {
                const texts = line.slice(2).split(" ");
                points = { texts, values: numbers(texts) };
            } else if (line.startsWith("T ")) {
                const time_text = line.slice(2, line.indexOf(" ", 2));
                frames.push({ time_text, time: value_of(time_text), points, line });
            }
        }
        return { name, frames };
    }

    // The frame with its phi: texts, values, and the place of the largest |phi|.
    function frame_values(frame) {
        if (frame.line !== null) {
            frame.texts = frame.line.split(" ").slice(2);
            frame.phi = numbers(frame.texts);
            frame.largest = largest_place(frame.phi);
            frame.line = null;
        }
        return frame;
    }

    const runs = Array.from(document.querySelectorAll("script.run"),
                            (script, r) => read_run(script.textContent, facts.names[r]));
    const first = runs[0];
    const count = first.frames.length;

    // For every other run and every frame of the first, the run's frame of the nearest time.
    const notes = [];
    const matched = runs.map((run) => {
        const order = run.frames.map((frame, i) => i)
            .sort((a, b) => run.frames[a].time - run.frames[b].time);
        let differ = false;
        const match = first.frames.map((frame) => {
            let low = 0, high = order.length - 1;
            while (high - low > 1) {
                const middle = (low + high) >> 1;
                if (run.frames[order[middle]].time <= frame.time) low = middle; else high = middle;
            }
            const below = run.frames[order[low]], above = run.frames[order[high]];
            const nearest = Math.abs(above.time - frame.time) < Math.abs(below.time - frame.time)
                ? order[high] : order[low];
            if (run.frames[nearest].time !== frame.time) differ = true;
            return nearest;
        });
        if (differ)
            notes.push(`The output times of ${run.name} differ from those of ${first.name}: ` +
                       "each frame shows it at its output time nearest to the frame's time.");
        return match;
    });
    if (facts.note) notes.unshift(facts.note);

    // Points in increasing x: the order of their places.
    function increasing(points) {
        if (!points.order) {
            const x = points.values;
            points.order = Array.from(x, (v, i) => i).sort((a, b) => x[a] - x[b] || a - b);
        }
        return points.order;
    }

    // The difference of frame b from frame a at a's points: b's value where an x coincides,
    // linear interpolation between b's neighbours otherwise, NaN outside b's points.
    function difference(a, b) {
        const values = new Float64Array(a.phi.length);
        let coincide = 0, between = 0;
        const bx = b.points.values, order = increasing(b.points);
        for (let i = 0; i < values.length; i++) {
            const x = a.points.values[i];
            let other = NaN;
            if (b.points === a.points || bx[i] === x) {
                other = b.phi[i];
                coincide++;
            } else {
                let low = 0, high = order.length - 1;
                while (high - low > 1) {
                    const middle = (low + high) >> 1;
                    if (bx[order[middle]] <= x) low = middle; else high = middle;
                }
                const l = order[low], h = order[high];
                if (bx[l] === x || bx[h] === x) {
                    other = b.phi[bx[l] === x ? l : h];
                    coincide++;
                } else if (bx[l] < x && x < bx[h]) {
                    other = b.phi[l] + (b.phi[h] - b.phi[l]) * ((x - bx[l]) / (bx[h] - bx[l]));
                    between++;
                }
            }
            values[i] = other - a.phi[i];
        }
        return { values, coincide, between, outside: values.length - coincide - between };
    }

    const state = { frame: 0, diff: false, log: false, per_frame: false, playing: null };
    const transform = (v) => !Number.isFinite(v) ? NaN
        : state.log ? Math.sign(v) * (Math.log1p(Math.abs(v)) / Math.LN10) : v;

    // The curves of the frame shown: one per run, or the one difference.
    function curves(k) {
        const a = frame_values(first.frames[k]);
        if (!state.diff)
            return runs.map((run, r) => {
                const frame = frame_values(run.frames[matched[r][k]]);
                return { name: run.name, run: run.name, points: frame.points, values: frame.phi,
                         texts: frame.texts, time: frame.time_text };
            });
        const b = frame_values(runs[1].frames[matched[1][k]]);
        const d = difference(a, b);
        return [{ name: `${runs[1].name} - ${first.name}`, run: runs[1].name, points: a.points,
                  values: d.values,
                  texts: Array.from(d.values, written), time: b.time_text, method: d }];
    }

    // Rows of x and one column per curve, in increasing x; a curve without a point at a row's
    // x has null there, a value that is not finite NaN (a gap).
    function table(shown) {
        const shared = shown.every((curve) => curve.points === shown[0].points);
        const xs = shared ? increasing(shown[0].points).map((i) => shown[0].points.values[i])
            : [...new Set(shown.flatMap((curve) => Array.from(curve.points.values)))]
                .sort((a, b) => a - b);
        const row_of = new Map(xs.map((x, row) => [x, row]));
        const rows = xs.map((x) => [x].concat(shown.map(() => null)));
        const texts = xs.map(() => []);
        shown.forEach((curve, c) => {
            for (let i = 0; i < curve.values.length; i++) {
                const row = row_of.get(curve.points.values[i]);
                rows[row][c + 1] = transform(curve.values[i]);
                texts[row][0] ??= curve.points.texts[i];
                texts[row][c + 1] = curve.texts[i];
            }
        });
        return { rows, texts };
    }

    // The y-range of the whole run in the current mode and scale, padded a little.
    const run_ranges = new Map();
    function run_range() {
        const key = `${state.diff} ${state.log}`;
        if (!run_ranges.has(key)) {
            let low = Infinity, high = -Infinity;
            const include = (v) => {
                const y = transform(v);
                if (y < low) low = y;
                if (y > high) high = y;
            };
            if (!state.diff)
                facts.ranges.filter((range) => range).flat().forEach(include);
            else
                for (let k = 0; k < count; k++) curves(k)[0].values.forEach(include);
            if (low > high) low = high = 0;
            // Halves first: the width of a run that blew up may be above the largest double.
            const pad = low === high ? Math.max(Math.abs(low), 1) * 0.1 : (high / 2 - low / 2) * 0.1;
            run_ranges.set(key, [low - pad, high + pad]);
        }
        return run_ranges.get(key);
    }

    // The norms of each run whose folder held norms.tsv, one graph per run under the profile:
    // the seven norms against time, on a logarithmic scale where their positive values span
    // more than two decades (zeros and values that are not finite are then gaps), the output
    // time of the run's frame shown marked by a vertical line and its row written above.
    const norm_names = ["max_abs_phi", "l2_phi", "l2_psi", "l2_pi", "energy", "l2_constraint",
                        "max_abs_constraint"];
    const norm_value = (text) => text === "inf" ? Infinity : text === "-inf" ? -Infinity
        : Number(text);
    const norms = Array.from(document.querySelectorAll("script.norms"), (script) => {
        const run = Number(script.dataset.run);
        const texts = script.textContent.split("\n").filter((line) => line)
            .map((line) => line.split("\t"));
        const values = texts.map((row) => row.map(norm_value));
        let low = Infinity, high = 0;
        for (const row of values)
            for (const v of row.slice(1))
                if (Number.isFinite(v) && v > 0) {
                    if (v < low) low = v;
                    if (v > high) high = v;
                }
        const log = high / low > 100;
        const rows = values.filter((row) => Number.isFinite(row[0])).map((row) =>
            [row[0]].concat(row.slice(1).map((v) => Number.isFinite(v) && (!log || v > 0) ? v : null)));
        const box = document.createElement("div");
        const status = document.createElement("div");
        const legend = document.createElement("div");
        const plot = document.createElement("div");
        status.className = "norms-status";
        legend.className = "norms-legend";
        plot.className = "norms-plot";
        box.append(status, legend, plot);
        element("norms").append(box);
        const entry = { run, texts, values, status, row: -1, nearest: new Map() };
        if (rows.length > 0)
            entry.graph = new Dygraph(plot, rows, {
                // dygraphs pads a logarithmic range linearly and would cut off the smallest values.
                labels: ["time"].concat(norm_names), logscale: log, xlabel: "time",
                valueRange: log ? [low / 2, high * 2] : null,
                ylabel: log ? "norm (log scale)" : "norm", legend: "always", labelsDiv: legend,
                connectSeparatedPoints: false, drawPoints: rows.length <= 200,
                axes: { y: { axisLabelWidth: 60,
                             axisLabelFormatter: (v) => log ? v.toExponential(0) : String(v) } },
                underlayCallback: (context, area, g) => {
                    if (entry.row < 0 || !Number.isFinite(values[entry.row][0])) return;
                    const x = g.toDomXCoord(values[entry.row][0]);
                    context.strokeStyle = "#c00000";
                    context.lineWidth = 2;
                    context.beginPath();
                    context.moveTo(x, area.y);
                    context.lineTo(x, area.y + area.h);
                    context.stroke();
                },
            });
        return entry;
    });

    // The row of the norms nearest in time to a frame of their run.
    function norms_row(entry, frame) {
        if (!entry.nearest.has(frame.time)) {
            let best = -1;
            entry.values.forEach((row, i) => {
                if (best < 0 || Math.abs(row[0] - frame.time) < Math.abs(entry.values[best][0] - frame.time))
                    best = i;
            });
            entry.nearest.set(frame.time, best);
        }
        return entry.nearest.get(frame.time);
    }

    function show_norms() {
        for (const entry of norms) {
            const row = norms_row(entry, runs[entry.run].frames[matched[entry.run][state.frame]]);
            if (row === entry.row) continue;
            entry.row = row;
            const texts = entry.texts[row] ?? [];
            entry.status.textContent = `norms of ${runs[entry.run].name} at time ${texts[0]}: ` +
                norm_names.map((name, c) => `${name} ${texts[c + 1]}`).join(", ");
            entry.graph?.updateOptions({});
        }
    }

    let graph = null, shown_texts = [];
    const formatter = (v, options, name, g, row, column) => shown_texts[row]?.[column] ?? "";

    function show(k, options = {}) {
        state.frame = Math.min(Math.max(k, 0), count - 1);
        const shown = curves(state.frame);
        const { rows, texts } = table(shown);
        shown_texts = texts;
        const labels = ["x"].concat(shown.map((curve) => curve.name));
        const settings = { file: rows, labels, ...options };
        if (!graph) {
            graph = new Dygraph(element("plot"), rows, {
                labels, legend: "always", labelsDiv: element("values"),
                labelsShowZeroValues: true, connectSeparatedPoints: true,
                drawPoints: rows.length <= 200, xlabel: "x",
                axes: { x: { valueFormatter: formatter }, y: { valueFormatter: formatter } },
                ...options,
            });
        } else {
            graph.updateOptions(settings);
        }
        const frame = frame_values(first.frames[state.frame]);
        const largest = state.diff ? written(Math.abs(shown[0].values[largest_place(shown[0].values)]))
            : frame.largest < 0 ? "NaN" : frame.texts[frame.largest].replace(/^-/, "");
        element("status").textContent =
            `frame ${state.frame + 1} of ${count}, time ${frame.time_text}, max |phi| ${largest}`;
        element("slider").value = state.frame + 1;
        const lines = notes.slice();
        shown.forEach((curve) => {
            if (curve.time !== frame.time_text)
                lines.push(`${curve.run} is shown at time ${curve.time}.`);
        });
        const method = shown[0].method;
        if (method)
            lines.push(`The difference at the ${shown[0].values.length} points of ${first.name}: ` +
                (method.between === 0 && method.outside === 0
                    ? `the values of ${runs[1].name}, whose x values coincide with them.`
                    : `the values of ${runs[1].name} where the x values coincide ` +
                      `(${method.coincide} points), linear interpolation between its neighbouring ` +
                      `points otherwise (${method.between} points)` +
                      (method.outside ? `; ${method.outside} outside its x range are left out.` : ".")));
        show_norms();
        element("notes").replaceChildren(...lines.map((line) => {
            const p = document.createElement("p");
            p.textContent = line;
            return p;
        }));
    }

    // The y-axis settings of the current mode, scale and range.
    function axis_options() {
        const what = state.diff ? `phi of ${runs[1].name} - phi of ${first.name}` : "phi";
        return { valueRange: state.per_frame ? null : run_range(),
                 ylabel: state.log ? `sign(${what}) log10(1 + |${what}|)` : what };
    }

    function remember() {
        history.replaceState(null, "", `#frame=${state.frame + 1}${state.diff ? "&diff=1" : ""}`);
    }

    function step(k) {
        pause();
        show(k);
        remember();
    }

    function pause() {
        if (state.playing === null) return;
        clearTimeout(state.playing);
        state.playing = null;
        element("play").textContent = "play";
        remember();
    }

    function play() {
        if (state.playing !== null) return pause();
        if (state.frame === count - 1) show(0);
        element("play").textContent = "pause";
        const tick = () => {
            if (state.frame === count - 1) return pause();
            show(state.frame + 1);
            state.playing = setTimeout(tick, 1000 / Number(element("speed").value));
        };
        state.playing = setTimeout(tick, 1000 / Number(element("speed").value));
    }

    function read_address() {
        const settings = new URLSearchParams(location.hash.slice(1));
        const k = parseInt(settings.get("frame") ?? "1", 10);
        state.diff = runs.length > 1 && settings.get("diff") === "1";
        element("diff").checked = state.diff;
        pause();
        show(Number.isNaN(k) ? 0 : k - 1, axis_options());
    }

    element("slider").max = count;
    element("diff-choice").hidden = runs.length < 2;
    element("first").onclick = () => step(0);
    element("back").onclick = () => step(state.frame - 1);
    element("forward").onclick = () => step(state.frame + 1);
    element("last").onclick = () => step(count - 1);
    element("play").onclick = play;
    element("slider").oninput = () => step(Number(element("slider").value) - 1);
    element("reset").onclick = () => graph.resetZoom();
    element("scale").onchange = () => {
        state.log = element("scale").value === "log";
        show(state.frame, axis_options());
    };
    element("range").onchange = () => {
        state.per_frame = element("range").value === "frame";
        show(state.frame, axis_options());
    };
    element("diff").onchange = () => {
        state.diff = element("diff").checked;
        show(state.frame, axis_options());
        remember();
    };
    const keys = { " ": play, ArrowLeft: () => step(state.frame - 1),
                   ArrowRight: () => step(state.frame + 1), Home: () => step(0),
                   End: () => step(count - 1) };
    document.addEventListener("keydown", (event) => {
        if (!(event.key in keys) || event.target.tagName === "SELECT" ||
            event.altKey || event.ctrlKey || event.metaKey)
            return;
        event.preventDefault();
        keys[event.key]();
    });
    window.addEventListener("hashchange", read_address);
    read_address();
})();
