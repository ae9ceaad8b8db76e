#pragma once

// The per-point formulas of the evolution, written once and used by every loop that evaluates
// them, so that all of them produce the same doubles. Each is evaluated exactly in the order
// written: no operation is regrouped, and dx is divided by, never multiplied by a reciprocal.

// Rate of change of phi: alpha*pi + beta*psi.
inline double rhs_phi_at(double alpha, double pi, double beta, double psi) {
    return alpha * pi + beta * psi;
}

// One term of a centred difference of a flux a*u: (a(i+1)*u(i+1) - a(i-1)*u(i-1))*0.5/dx.
inline double centred_term(double a_plus, double u_plus, double a_minus, double u_minus,
                           double dx) {
    return (a_plus * u_plus - a_minus * u_minus) * 0.5 / dx;
}

// Rate of change of psi: d/dx (alpha*pi + beta*psi), the alpha term first.
inline double rhs_psi_at(double alpha_m, double beta_m, double psi_m, double pi_m,
                         double alpha_p, double beta_p, double psi_p, double pi_p, double dx) {
    return centred_term(alpha_p, pi_p, alpha_m, pi_m, dx) +
           centred_term(beta_p, psi_p, beta_m, psi_m, dx);
}

// Rate of change of pi: d/dx (alpha*psi + beta*pi), the alpha term first.
inline double rhs_pi_at(double alpha_m, double beta_m, double psi_m, double pi_m,
                        double alpha_p, double beta_p, double psi_p, double pi_p, double dx) {
    return centred_term(alpha_p, psi_p, alpha_m, psi_m, dx) +
           centred_term(beta_p, pi_p, beta_m, pi_m, dx);
}

// One Euler sub-step from the start-of-step copy: u_p + rhs*h.
inline double advance(double u_p, double rhs, double h) { return u_p + rhs * h; }

// Characteristic variables of the outgoing boundary.
inline double left_going(double pi, double psi) { return (pi + psi) * 0.5; }
inline double right_going(double pi, double psi) { return (pi - psi) * 0.5; }

// Value at the end point of the parabola through the next three points, nearest first:
// u1*3 - u2*3 + u3.
inline double parabola_end(double u1, double u2, double u3) { return u1 * 3 - u2 * 3 + u3; }
