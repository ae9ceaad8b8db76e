#pragma once

// The per-point formulas of the evolution, written once and used by every loop that evaluates
// them, so that all of them produce the same doubles. Each is evaluated exactly in the order
// written: no operation is regrouped, and dx is divided by, never multiplied by a reciprocal.
//
// The formulas are templates over the value type: T is double, or a vector of doubles holding
// neighbouring points. A vector operation performs the same IEEE operation on every lane, so
// each lane gets exactly the double that the scalar evaluation gives for its point. They are
// always inlined, which also keeps vector values out of every function-call interface.
//
// Every formula that takes the fields of a point takes them in one order: alpha, beta, psi, pi.
// No right-hand side reads phi.

// How far a right-hand side reaches: the rates at point i read the fields at i-1..i+1.
inline constexpr int stencil_reach = 1;

// The four fluxes of the system at one point: the products that the right-hand sides combine.
template <class T>
struct point_fluxes {
    T alpha_pi;
    T beta_psi;
    T alpha_psi;
    T beta_pi;
};

template <class T>
[[gnu::always_inline]] inline point_fluxes<T> fluxes_at(T alpha, T beta, T psi, T pi) {
    return {alpha * pi, beta * psi, alpha * psi, beta * pi};
}

// Rate of change of phi: alpha*pi + beta*psi.
template <class T>
[[gnu::always_inline]] inline T rhs_phi_of(const point_fluxes<T>& f) {
    return f.alpha_pi + f.beta_psi;
}

template <class T>
[[gnu::always_inline]] inline T rhs_phi_at(T alpha, T beta, T psi, T pi) {
    return rhs_phi_of(fluxes_at(alpha, beta, psi, pi));
}

// Centred difference of a flux from its values at i+1 and i-1: (plus - minus)*0.5/dx.
template <class T>
[[gnu::always_inline]] inline T centred_difference(T plus, T minus, double dx) {
    return (plus - minus) * 0.5 / dx;
}

// Rate of change of psi: d/dx (alpha*pi + beta*psi), the alpha term first, from the fluxes at
// i-1 (m) and i+1 (p). Divisor is dx, or anything that centred_difference takes in its place.
template <class T, class Divisor>
[[gnu::always_inline]] inline T rhs_psi_of(const point_fluxes<T>& m, const point_fluxes<T>& p,
                                           Divisor&& dx) {
    return centred_difference(p.alpha_pi, m.alpha_pi, dx) +
           centred_difference(p.beta_psi, m.beta_psi, dx);
}

// Rate of change of pi: d/dx (alpha*psi + beta*pi), the alpha term first.
template <class T, class Divisor>
[[gnu::always_inline]] inline T rhs_pi_of(const point_fluxes<T>& m, const point_fluxes<T>& p,
                                          Divisor&& dx) {
    return centred_difference(p.alpha_psi, m.alpha_psi, dx) +
           centred_difference(p.beta_pi, m.beta_pi, dx);
}

template <class T>
[[gnu::always_inline]] inline T rhs_psi_at(T alpha_m, T beta_m, T psi_m, T pi_m, T alpha_p,
                                           T beta_p, T psi_p, T pi_p, double dx) {
    return rhs_psi_of(fluxes_at(alpha_m, beta_m, psi_m, pi_m),
                      fluxes_at(alpha_p, beta_p, psi_p, pi_p), dx);
}

template <class T>
[[gnu::always_inline]] inline T rhs_pi_at(T alpha_m, T beta_m, T psi_m, T pi_m, T alpha_p, T beta_p,
                                          T psi_p, T pi_p, double dx) {
    return rhs_pi_of(fluxes_at(alpha_m, beta_m, psi_m, pi_m),
                     fluxes_at(alpha_p, beta_p, psi_p, pi_p), dx);
}

// One Euler sub-step from the start-of-step copy: u_p + rhs*h.
template <class T>
[[gnu::always_inline]] inline T advance(T u_p, T rhs, double h) {
    return u_p + rhs * h;
}

// Characteristic variables of the outgoing boundary.
inline double left_going(double psi, double pi) {
    return (pi + psi) * 0.5;
}
inline double right_going(double psi, double pi) {
    return (pi - psi) * 0.5;
}

// Value at the end point of the parabola through the next three points, nearest first:
// u1*3 - u2*3 + u3.
inline double parabola_end(double u1, double u2, double u3) {
    return u1 * 3 - u2 * 3 + u3;
}
