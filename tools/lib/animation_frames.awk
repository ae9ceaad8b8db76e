# phi.xl to the frames of the animation: "x phi" of one output time per file, frame_dir/frame<k>.dat
# for k = 0, 1, ..., and for each frame a line "time output" on standard output, output being
# the output time's place in phi.xl, counted from 1. Set with -v:
# outputs (the number of output times in phi.xl), frames (how many of them to show, 1 to
# outputs) and frame_dir. With fewer frames than output times, frame k shows output time
# round(k (outputs - 1) / (frames - 1)), counted from 0: evenly spaced, and always the first and
# the last. Needs profile_numbers.awk.

BEGIN {
    block = 0
    for (k = 0; k < frames; k++)
        frame_of[frames == 1 ? 0 : int(k * (outputs - 1) / (frames - 1) + 0.5)] = k
}

/^#Time = / {
    if (out != "") close(out)
    out = ""
    if (block in frame_of) {
        out = sprintf("%s/frame%d.dat", frame_dir, frame_of[block])
        printf "" > out
        print field_text($3), block + 1
    }
    block++
    next
}

NF == 2 && out != "" { print field_text($1), field_text($2) > out }
