# The norms image of tools/plot, loaded after plot_profiles.gp when the run's folder holds
# norms.tsv. Set before loading: run_name, image_size, norms_data (the curves that
# norms_curves.awk prepares: time and seven norms per line, "?" where a value is not drawn),
# norms_png, norms_log (1 for a logarithmic y axis), norms_points (1 to mark each row) and
# norms_note (what is left out, or empty); norms_range, a command setting the range of time or
# nothing.

reset
eval "set terminal pngcairo size ".image_size." enhanced font 'sans,12' linewidth 1.5"
set encoding utf8
set output norms_png
set datafile missing "?"
note = norms_note eq "" ? "" : "; ".norms_note
set title "norms against time\n{/*0.8 run in ".run_name."}" . \
    (norms_log || note ne "" ? sprintf("\n{/*0.8 %s scale%s}", norms_log ? "logarithmic" : "linear", note) : "") \
    font ",14"
set xlabel "time"
set ylabel "norm"
set grid lc rgb "#d8d8d8"
set autoscale xfix
if (norms_range ne "") { eval norms_range }
if (norms_log) { set logscale y; set format y "10^{%T}" }
set key outside right top noenhanced
set rmargin at screen 0.78
# The field norms solid, the energy thick, the constraint's dashed.
names = "max_abs_phi l2_phi l2_psi l2_pi energy l2_constraint max_abs_constraint"
colours = "#440154 #3b528b #21918c #5ec962 #000000 #d95f02 #e7298a"
name(c) = word(names, c - 1)
colour(c) = word(colours, c - 1)
dash(c) = c >= 7 ? 2 : 1
# Few rows are marked by points, so that a curve of a single finite row shows.
style = norms_points ? "linespoints pt 7 ps 0.7" : "lines"
plot for [c = 2:8] norms_data using 1:c with @style lc rgb colour(c) lw (c == 6 ? 2.5 : 1.5) \
    dashtype dash(c) title name(c)
unset output
