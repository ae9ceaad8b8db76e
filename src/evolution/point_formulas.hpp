#pragma once

// The per-point formulas of the evolution, written once and used by every loop that evaluates
// them, so that all of them produce the same doubles. Each is evaluated exactly in the order
// written: no operation is regrouped, and dx is divided by, never multiplied by a reciprocal.
//
// The formulas of the update are templates over the value type: T is double, or a GCC vector of
// doubles when the sweep of the time step evaluates several neighbouring points at once. A
// vector operation performs the same IEEE operation on every lane, so each lane gets exactly
// the double that the scalar evaluation gives for its point. They are always inlined, which
// also keeps vector values out of every function-call interface.

// Rate of change of phi: alpha*pi + beta*psi.
template <class T>
[[gnu::always_inline]] inline T rhs_phi_at(T alpha, T pi, T beta, T psi) {
    return alpha * pi + beta * psi;
}

// One term of a centred difference of a flux a*u: (a(i+1)*u(i+1) - a(i-1)*u(i-1))*0.5/dx.
template <class T>
[[gnu::always_inline]] inline T centred_term(T a_plus, T u_plus, T a_minus, T u_minus, double dx) {
    return (a_plus * u_plus - a_minus * u_minus) * 0.5 / dx;
}

// Rate of change of psi: d/dx (alpha*pi + beta*psi), the alpha term first.
template <class T>
[[gnu::always_inline]] inline T rhs_psi_at(T alpha_m, T beta_m, T psi_m, T pi_m, T alpha_p,
                                           T beta_p, T psi_p, T pi_p, double dx) {
    return centred_term(alpha_p, pi_p, alpha_m, pi_m, dx) +
           centred_term(beta_p, psi_p, beta_m, psi_m, dx);
}

// Rate of change of pi: d/dx (alpha*psi + beta*pi), the alpha term first.
template <class T>
[[gnu::always_inline]] inline T rhs_pi_at(T alpha_m, T beta_m, T psi_m, T pi_m, T alpha_p, T beta_p,
                                          T psi_p, T pi_p, double dx) {
    return centred_term(alpha_p, psi_p, alpha_m, psi_m, dx) +
           centred_term(beta_p, pi_p, beta_m, pi_m, dx);
}

// One Euler sub-step from the start-of-step copy: u_p + rhs*h.
template <class T>
[[gnu::always_inline]] inline T advance(T u_p, T rhs, double h) {
    return u_p + rhs * h;
}

// Characteristic variables of the outgoing boundary.
inline double left_going(double pi, double psi) {
    return (pi + psi) * 0.5;
}
inline double right_going(double pi, double psi) {
    return (pi - psi) * 0.5;
}

// Value at the end point of the parabola through the next three points, nearest first:
// u1*3 - u2*3 + u3.
inline double parabola_end(double u1, double u2, double u3) {
    return u1 * 3 - u2 * 3 + u3;
}
