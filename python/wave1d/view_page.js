// The viewer page of wave1d's view command: decodes the runs that the page holds, draws one
// frame at a time with dygraphs, and keeps the element #status and the address's
// #frame=K&diff=1 in step with what it shows.
"use strict";

(function () {
    const element = (id) => document.getElementById(id);
    const facts = JSON.parse(element("facts").textContent);

    // An array that the page holds: its values as little-endian doubles, in base64.
    function unpacked(text) {
        if (Uint8Array.fromBase64) return new Float64Array(Uint8Array.fromBase64(text).buffer);
        const binary = atob(text);
        const bytes = new Uint8Array(binary.length);
        for (let i = 0; i < binary.length; i++) bytes[i] = binary.charCodeAt(i);
        return new Float64Array(bytes.buffer);
    }

    // A value as the profile files write it, without the blanks in front: digits significant
    // digits, two exponent digits after an E, or three without it; zero without a sign. The
    // values come from those files, so this gives back their text.
    function written(value, digits = 9) {
        if (Number.isNaN(value)) return "NaN";
        if (!Number.isFinite(value)) return value > 0 ? "Infinity" : "-Infinity";
        if (value === 0) return (0).toExponential(digits - 1).replace("e+0", "E+00");
        const [mantissa, power] = value.toExponential(digits - 1).split("e");
        const exponent = Math.abs(Number(power));
        return mantissa + (exponent >= 100 ? "" : "E") + power[0] +
            String(exponent).padStart(2, "0");
    }

    // A value as norms.tsv writes it: the fewest digits that read back as the value, plain or
    // with an exponent of two digits at least, whichever is shorter (plain on a tie).
    function norm_text(value) {
        if (Number.isNaN(value)) return "nan";
        if (!Number.isFinite(value)) return value > 0 ? "inf" : "-inf";
        if (value === 0) return Object.is(value, -0) ? "-0" : "0";
        const [mantissa, power] = value.toExponential().split("e");
        const exponent = Number(power), sign = value < 0 ? "-" : "";
        const digits = mantissa.replace(/^-/, "").replace(".", "");
        const with_exponent = mantissa + "e" + (exponent < 0 ? "-" : "+") +
            String(Math.abs(exponent)).padStart(2, "0");
        const plain = exponent < 0 ? sign + "0." + "0".repeat(-exponent - 1) + digits
            : digits.length <= exponent + 1 ? sign + digits.padEnd(exponent + 1, "0")
            : sign + digits.slice(0, exponent + 1) + "." + digits.slice(exponent + 1);
        return plain.length <= with_exponent.length ? plain : with_exponent;
    }

    // The labels of evenly spaced ticks: the fewest decimals (of the mantissa, for very large
    // or very small values) that put every label within a thousandth of the spacing of its
    // tick, so that no label is rounded to its neighbour's nor carries the tick's rounding error.
    function tick_labels(values) {
        let spacing = Infinity;
        for (let i = 1; i < values.length; i++)
            spacing = Math.min(spacing, Math.abs(values[i] - values[i - 1]) || Infinity);
        const largest = Math.max(0, ...values.map(Math.abs));
        if (!Number.isFinite(spacing)) spacing = largest || 1;
        const exponential = largest >= 1e6 || (largest > 0 && largest < 1e-3);
        for (let digits = 0; digits <= 16; digits++) {
            const labels = values.map((v) => Math.abs(v) < spacing * 1e-6 ? "0"
                : exponential ? v.toExponential(digits).replace("e+", "e") : v.toFixed(digits));
            if (labels.every((label, i) => Math.abs(Number(label) - values[i]) <= spacing * 1e-3))
                return labels;
        }
        return values.map(String);
    }

    // dygraphs' ticks, labelled by tick_labels (on a logarithmic axis, each by its shortest
    // decimal; the ticks that dygraphs leaves without a label stay so).
    function ticker(low, high, pixels, options, graph, values) {
        const ticks = Dygraph.numericTicks(low, high, pixels, options, graph, values)
            .filter((tick) => Number.isFinite(tick.v));
        const labelled = ticks.filter((tick) => tick.label !== "");
        const labels = options("logscale")
            ? labelled.map((tick) => String(Number(tick.v.toPrecision(12))).replace("e+", "e"))
            : tick_labels(labelled.map((tick) => tick.v));
        labelled.forEach((tick, i) => { tick.label = labels[i]; });
        return ticks;
    }
    // Wide enough for the longest label of tick_labels with a sign.
    const axes = { x: { ticker }, y: { ticker, axisLabelWidth: 80 } };

    // The place of the largest |value|, NaN left out; -1 when there is none.
    function largest_place(values) {
        let place = -1;
        for (let i = 0; i < values.length; i++)
            if (values[i] === values[i] &&
                (place < 0 || Math.abs(values[i]) > Math.abs(values[place])))
                place = i;
        return place;
    }

    // Each run: its points, and per output time its frame: the time and phi at the points.
    const runs = facts.runs.map((run) => {
        const points = { values: unpacked(run.x) };
        const phi = unpacked(run.phi), n = points.values.length;
        const frames = Array.from(unpacked(run.times), (time, k) => {
            const values = phi.subarray(k * n, (k + 1) * n);
            return { time, time_text: written(time, 7), points, phi: values };
        });
        return { name: run.name, outlier: run.outlier, range: run.range, frames };
    });
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
    notes.unshift(...facts.notes);

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

    const state = { frame: 0, diff: false, log: false, per_frame: false, fit_all: false,
                    playing: null };
    const transform = (v) => !Number.isFinite(v) ? NaN
        : state.log ? Math.sign(v) * (Math.log1p(Math.abs(v)) / Math.LN10) : v;

    // The curves of the frame shown: one per run, or the one difference.
    function curves(k) {
        const a = first.frames[k];
        if (!state.diff)
            return runs.map((run, r) => {
                const frame = run.frames[matched[r][k]];
                return { name: run.name, run: run.name, outlier: run.outlier,
                         points: frame.points, values: frame.phi, time: frame.time_text };
            });
        const b = runs[1].frames[matched[1][k]];
        const d = difference(a, b);
        return [{ name: `${runs[1].name} - ${first.name}`, run: runs[1].name, points: a.points,
                  values: d.values, time: b.time_text, method: d }];
    }

    // Rows of x and one column per curve, in increasing x, and the same rows of the values as
    // they are (for the values under the pointer). A curve without a point at a row's x has
    // null there, a value that is not finite NaN (a gap). Values far outside the y-range are
    // drawn at its edge's far side, where the canvas still draws them.
    function table(shown, [low, high]) {
        const shared = shown.every((curve) => curve.points === shown[0].points);
        const xs = shared ? increasing(shown[0].points).map((i) => shown[0].points.values[i])
            : [...new Set(shown.flatMap((curve) => Array.from(curve.points.values)))]
                .sort((a, b) => a - b);
        const row_of = new Map(xs.map((x, row) => [x, row]));
        const rows = xs.map((x) => [x].concat(shown.map(() => null)));
        const values = xs.map((x) => [x]);
        const beyond = Math.max(high - low, Number.MIN_VALUE) * 10;
        shown.forEach((curve, c) => {
            for (let i = 0; i < curve.values.length; i++) {
                const row = row_of.get(curve.points.values[i]);
                const y = transform(curve.values[i]);
                rows[row][c + 1] = Math.min(Math.max(y, low - beyond), high + beyond);
                values[row][c + 1] = curve.values[i];
            }
        });
        return { rows, values };
    }

    // The y-range in the current mode and scale: that of every frame, or of the frame shown,
    // padded a little. Runs that grew far beyond the others are left out unless "fit every
    // run" is ticked.
    const run_ranges = new Map();
    function y_range(shown) {
        const key = `${state.diff} ${state.log} ${state.fit_all}`;
        if (!state.per_frame && run_ranges.has(key)) return run_ranges.get(key);
        let low = Infinity, high = -Infinity;
        const include = (values) => {
            for (const v of values) {
                const y = transform(v);
                if (y < low) low = y;
                if (y > high) high = y;
            }
        };
        const fitted = (curve) => state.fit_all || !curve.outlier;
        if (state.per_frame)
            shown.filter(fitted).forEach((curve) => include(curve.values));
        else if (!state.diff)  // the smallest and the largest finite phi of each run
            runs.filter(fitted).forEach((run) => include(run.range));
        else
            for (let k = 0; k < count; k++) include(curves(k)[0].values);
        if (low > high) low = high = 0;
        // Halves first: the width of a run that blew up may be above the largest double.
        const pad = low === high ? Math.max(Math.abs(low), 1) * 0.1 : (high / 2 - low / 2) * 0.1;
        const range = [low - pad, high + pad];
        if (!state.per_frame) run_ranges.set(key, range);
        return range;
    }

    // The norms of each run that has them, one graph per run under the profile: its columns
    // against time, on a logarithmic scale where their positive values span more than two
    // decades (zeros and values that are not finite are then gaps), the output time of the
    // run's frame shown marked by a vertical line and its row written above.
    const norms = facts.norms.map(({ run, names, rows: packed }) => {
        const flat = unpacked(packed), width = names.length;
        const values = Array.from({ length: flat.length / width },
                                  (_, i) => flat.subarray(i * width, (i + 1) * width));
        let low = Infinity, high = 0;
        for (const row of values)
            for (const v of row.subarray(1))
                if (Number.isFinite(v) && v > 0) {
                    if (v < low) low = v;
                    if (v > high) high = v;
                }
        const log = high / low > 100;
        const rows = values.filter((row) => Number.isFinite(row[0])).map((row) =>
            [row[0]].concat(Array.from(row.subarray(1),
                                       (v) => Number.isFinite(v) && (!log || v > 0) ? v : null)));
        const box = document.createElement("div");
        const status = document.createElement("div");
        const legend = document.createElement("div");
        const plot = document.createElement("div");
        status.className = "norms-status";
        legend.className = "norms-legend";
        plot.className = "norms-plot";
        box.append(status, legend, plot);
        element("norms").append(box);
        const entry = { run, names, values, status, row: -1, nearest: new Map() };
        if (rows.length > 0)
            entry.graph = new Dygraph(plot, rows, {
                // dygraphs pads a logarithmic range linearly and would cut off the smallest values.
                labels: names, logscale: log, xlabel: "time", axes,
                valueRange: log ? [low / 2, high * 2] : null,
                ylabel: log ? "norm (log scale)" : "norm", legend: "always", labelsDiv: legend,
                connectSeparatedPoints: false, drawPoints: rows.length <= 200,
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
            const distance = (row) => Math.abs(row[0] - frame.time);
            entry.values.forEach((row, i) => {
                if (best < 0 || distance(row) < distance(entry.values[best])) best = i;
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
            const values = Array.from(entry.values[row] ?? [], norm_text);
            entry.status.textContent = `norms of ${runs[entry.run].name} at time ${values[0]}: ` +
                entry.names.slice(1).map((name, c) => `${name} ${values[c + 1]}`).join(", ");
            entry.graph?.updateOptions({});
        }
    }

    // The values under the pointer as the files write them.
    let graph = null, shown_values = [];
    const formatter = (v, options, name, g, row, column) => {
        const value = shown_values[row]?.[column];
        return value === undefined || value === null ? "" : written(value);
    };

    function y_label() {
        const what = state.diff ? `phi of ${runs[1].name} - phi of ${first.name}` : "phi";
        return state.log ? `sign(${what}) log10(1 + |${what}|)` : what;
    }

    // Shows frame k; refit: with the y-range and its label of the current mode, scale and range
    // (with a y-range of each frame, always).
    function show(k, refit = false) {
        state.frame = Math.min(Math.max(k, 0), count - 1);
        const shown = curves(state.frame);
        const range = y_range(shown);
        const { rows, values } = table(shown, range);
        shown_values = values;
        const labels = ["x"].concat(shown.map((curve) => curve.name));
        const settings = { file: rows, labels };
        if (refit || state.per_frame)
            Object.assign(settings, { valueRange: range, ylabel: y_label() });
        if (!graph) {
            graph = new Dygraph(element("plot"), rows, {
                labels, legend: "always", labelsDiv: element("values"),
                labelsShowZeroValues: true, connectSeparatedPoints: true,
                drawPoints: rows.length <= 200, xlabel: "x", ylabel: y_label(), valueRange: range,
                axes: { x: { ...axes.x, valueFormatter: formatter },
                        y: { ...axes.y, valueFormatter: formatter } },
            });
        } else {
            graph.updateOptions(settings);
        }
        element("plot").dataset.yRange = graph.yAxisRange().join(" ");
        const frame = first.frames[state.frame], phi = shown[0].values;
        const place = largest_place(phi);
        const largest = place < 0 ? "NaN" : written(Math.abs(phi[place]));
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
            lines.push(`The difference at the ${phi.length} points of ${first.name}: ` +
                (method.between === 0 && method.outside === 0
                    ? `the values of ${runs[1].name}, whose x values coincide with them.`
                    : `the values of ${runs[1].name} where the x values coincide ` +
                      `(${method.coincide} points), linear interpolation between its ` +
                      `neighbouring points otherwise (${method.between} points)` +
                      (method.outside ? `; ${method.outside} outside its x range are left out.`
                          : ".")));
        show_norms();
        element("notes").replaceChildren(...lines.map((line) => {
            const p = document.createElement("p");
            p.textContent = line;
            return p;
        }));
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
        show(Number.isNaN(k) ? 0 : k - 1, true);
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
        show(state.frame, true);
    };
    element("range").onchange = () => {
        state.per_frame = element("range").value === "frame";
        show(state.frame, true);
    };
    element("outliers-choice").hidden = !runs.some((run) => run.outlier);
    element("outliers").onchange = () => {
        state.fit_all = element("outliers").checked;
        show(state.frame, true);
    };
    element("diff").onchange = () => {
        state.diff = element("diff").checked;
        show(state.frame, true);
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
    // Milliseconds from the start of the navigation to the first frame drawn, for measurements.
    document.body.dataset.started = performance.now().toFixed(0);
})();
