# The images of tools/plot. Set before loading: run_name (the run's folder as the titles show
# it, in enhanced text), profiles_data, spacetime_data (the data files that tools/plot
# prepares), profiles_png, spacetime_png (the images to write), image_size ("width,height"),
# largest (the largest finite magnitude of phi in the files) and outputs (the
# number of output times); for the animation frame_data (a printf format giving the data file
# of frame k, counted from 0), frame_times (the time of each frame, separated by blanks),
# frame_outputs (the output time each frame shows, counted from 1, separated by blanks),
# frame_delay (hundredths of a second per frame), animation_gif and animation_size.

eval "set terminal pngcairo size ".image_size." enhanced font 'sans,12' linewidth 1.5"
set encoding utf8

# A run that blew up spans hundreds of orders of magnitude, and on a linear axis only its last
# finite profile would show. Beyond log_from both images draw sign(phi)*log10(1 + |phi|), which
# keeps the sign, is close to phi near zero, and gives the order of magnitude of large values.
log_from = 1e6
log_scale = largest > log_from
shown(v) = log_scale ? sgn(v) * log10(1 + abs(v)) : v
phi_name = log_scale ? "sign(phi) log_{10}(1 + |phi|)" : "phi"
# Under each title, smaller, the run's folder and then the scale, each on a line of its own;
# the files hold every fourth grid point, so their largest |phi| can be below the table's.
scale_note = log_scale ? sprintf("\n{/*0.8 signed logarithmic scale; sampled maximum of |phi|: %.3g}", largest) : ""
subtitle = "\n{/*0.8 run in ".run_name."}".scale_note

# Snapshots of phi against x. Every curve is one output time; its colour is the time, read
# from the colour bar (dark early, bright late).
set output profiles_png
set title sprintf("%s against x at the %d output times", phi_name, outputs).subtitle font ",14"
set xlabel "x"
set ylabel phi_name
set cblabel "time"
set grid lc rgb "#d8d8d8"
set key off
set palette defined (0 "#440154", 1 "#3b528b", 2 "#21918c", 3 "#5ec962", 4 "#fde725")
set autoscale xfix
set offsets 0, 0, graph 0.05, graph 0.05
set lmargin at screen 0.10
set rmargin at screen 0.82
set colorbox user origin screen 0.85, screen 0.11 size screen 0.025, screen 0.77
plot profiles_data using 1:(shown($2)):3 with lines lc palette z notitle
unset output

# phi over x and time as a heat map: x across, time upwards, a colour range centred on zero
# (blue negative, white zero, red positive). Rows are interpolated four times in time.
reset
set output spacetime_png
# A label, not a title: gnuplot places a 3D title that holds escaped characters too high.
set label 1 sprintf("%s over x and time", phi_name).subtitle at screen 0.5, screen 0.935 center \
    font ",14"
set xlabel "x"
set ylabel "time"
set cblabel phi_name
set view map
set pm3d map corners2color mean interpolate 1,4
set palette defined (-1 "#2166ac", -0.5 "#67a9cf", 0 "#f7f7f7", 0.5 "#ef8a62", 1 "#b2182b")
top = largest > 0 ? shown(largest) : 1
set cbrange [-top:top]
set autoscale xfix
set autoscale yfix
set tics out nomirror
set lmargin at screen 0.10
set rmargin at screen 0.78
set bmargin at screen 0.11
set tmargin at screen 0.85
set colorbox user origin screen 0.81, screen 0.11 size screen 0.025, screen 0.74
set cblabel offset 1.5, 0
splot spacetime_data using 1:2:(shown($3)) with pm3d notitle
unset output

# The animation: phi against x at one output time per frame, on the ranges of the whole run,
# so that the frames can be compared as they play.
reset
stats profiles_data using 1:(shown($2)) nooutput
x_low = STATS_min_x
x_high = STATS_max_x
y_low = STATS_min_y
y_high = STATS_max_y
y_margin = y_high > y_low ? 0.05 * (y_high - y_low) : 1
eval sprintf("set terminal gif animate delay %d loop 0 size %s enhanced font 'sans,12'", frame_delay, animation_size)
set output animation_gif
set xlabel "x"
set ylabel phi_name
set grid lc rgb "#d8d8d8"
set key off
if (x_high > x_low) { set xrange [x_low:x_high] }
set yrange [y_low - y_margin:y_high + y_margin]
frames = words(frame_times)
do for [k = 1:frames] {
    time = real(word(frame_times, k))
    set title sprintf("%s against x at time %g (output %s of %d)", phi_name, time, \
                      word(frame_outputs, k), outputs).subtitle font ",14"
    plot sprintf(frame_data, k - 1) using 1:(shown($2)) with lines lw 2 lc rgb "#21918c" notitle
}
unset output
