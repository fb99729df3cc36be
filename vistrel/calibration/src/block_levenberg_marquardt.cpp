#include "calibration/block_levenberg_marquardt.h"

#include <cminpack.h>

#include <algorithm>
#include <cmath>
#include <memory>

#include <Eigen/Dense>

namespace calibration_detail {

void BlockJacobian::Clear() {
    const int G = static_cast<int>(shared.size());
    for (Block& b : blocks) b.values.assign(static_cast<size_t>(b.rows) * b.Columns(G), 0.0);
}

std::vector<double> BlockJacobian::Dense() const {
    std::vector<double> d(static_cast<size_t>(residuals) * static_cast<size_t>(unknowns), 0.0);
    const int G = static_cast<int>(shared.size());
    for (const Block& b : blocks)
        for (int c = 0; c < b.Columns(G); ++c) {
            const int j = c < G ? shared[c] : b.own[c - G];
            const double* column = &b.values[static_cast<size_t>(c) * b.rows];
            std::copy(column, column + b.rows, &d[static_cast<size_t>(j) * residuals + b.firstRow]);
        }
    return d;
}

namespace {

using Eigen::MatrixXd;
using Eigen::VectorXd;

// lmder's and lmpar's constants.
constexpr double p1 = 0.1, p5 = 0.5, p25 = 0.25, p75 = 0.75, p0001 = 1e-4, p001 = 1e-3;
constexpr double kStepBoundFactor = 100.0;  // VXL's factor

// What lmder's rules read from the Jacobian at the current point.
class StepModel {
public:
    virtual ~StepModel() = default;
    // The Euclidean norm of every column of J.
    virtual void ColumnNorms(double* acnorm) const = 0;
    // max over j of |(J^T f)_j| / (|f| |J_j|), columns of norm 0 left out.
    virtual double ScaledGradient(double fnorm, const double* acnorm) const = 0;
    // lmpar: par and x with (J^T J + par D^2) x = J^T f and |D x| near
    // delta. False when this model cannot solve it.
    virtual bool Lmpar(const double* diag, double delta, double* par, double* x) = 0;
    // |J p|.
    virtual double ProductNorm(const double* p) const = 0;
};

// MINPACK's own: the pivoted QR of the whole matrix, then lmpar.
class DenseModel final : public StepModel {
public:
    DenseModel(const BlockJacobian& J, const double* fvec)
        : m_(J.residuals), n_(J.unknowns), r_(J.Dense()), ipvt_(static_cast<size_t>(n_)), rdiag_(n_), acnorm_(n_),
          qtf_(n_), wa1_(n_), wa2_(n_), wa3_(n_), wa4_(fvec, fvec + m_) {
        qrfac(m_, n_, r_.data(), m_, 1, ipvt_.data(), n_, rdiag_.data(), acnorm_.data(), wa1_.data());
        // The library numbers the pivots from 0 or from 1 depending on its
        // build; a permutation tells which.
        base_ = *std::min_element(ipvt_.begin(), ipvt_.end());
        // Q^T f, as lmder forms it.
        for (int j = 0; j < n_; ++j) {
            double* column = &r_[static_cast<size_t>(j) * m_];
            if (column[j] != 0.0) {
                double sum = 0.0;
                for (int i = j; i < m_; ++i) sum += column[i] * wa4_[i];
                const double temp = -sum / column[j];
                for (int i = j; i < m_; ++i) wa4_[i] += column[i] * temp;
            }
            column[j] = rdiag_[j];
            qtf_[j] = wa4_[j];
        }
    }
    void ColumnNorms(double* acnorm) const override { std::copy(acnorm_.begin(), acnorm_.end(), acnorm); }
    double ScaledGradient(double fnorm, const double* acnorm) const override {
        double gnorm = 0.0;
        for (int j = 0; j < n_; ++j) {
            const int l = ipvt_[j] - base_;
            if (acnorm[l] == 0.0) continue;
            double sum = 0.0;
            for (int i = 0; i <= j; ++i) sum += r_[i + static_cast<size_t>(j) * m_] * (qtf_[i] / fnorm);
            gnorm = std::max(gnorm, std::fabs(sum / acnorm[l]));
        }
        return gnorm;
    }
    bool Lmpar(const double* diag, double delta, double* par, double* x) override {
        lmpar(n_, r_.data(), m_, ipvt_.data(), diag, qtf_.data(), delta, par, x, wa1_.data(), wa2_.data(),
              wa3_.data());
        return true;
    }
    double ProductNorm(const double* p) const override {
        std::vector<double> wa3(static_cast<size_t>(n_), 0.0);
        for (int j = 0; j < n_; ++j) {
            const double temp = p[ipvt_[j] - base_];
            for (int i = 0; i <= j; ++i) wa3[i] += r_[i + static_cast<size_t>(j) * m_] * temp;
        }
        return enorm(n_, wa3.data());
    }

private:
    int m_, n_;
    std::vector<double> r_;
    std::vector<int> ipvt_;
    std::vector<double> rdiag_, acnorm_, qtf_, wa1_, wa2_, wa3_, wa4_;
    int base_ = 0;
};

// The normal equations, block by block: A = J^T J as the shared block, each
// block's coupling and each block's own block; g = J^T f.
class BlockModel final : public StepModel {
public:
    BlockModel(const BlockJacobian& J, const double* fvec)
        : J_(J), fvec_(fvec), G_(static_cast<int>(J.shared.size())) {
        const size_t blocks = J.blocks.size();
        Agg_ = MatrixXd::Zero(G_, G_);
        gg_ = VectorXd::Zero(G_);
        Agv_.resize(blocks), Avv_.resize(blocks), gv_.resize(blocks), W_.resize(blocks), llt_.resize(blocks);
        for (size_t b = 0; b < blocks; ++b) {
            const BlockJacobian::Block& block = J.blocks[b];
            const int c = block.Columns(G_), k = c - G_;
            const Eigen::Map<const MatrixXd> Jb(block.values.data(), block.rows, c);
            const Eigen::Map<const VectorXd> fb(fvec + block.firstRow, block.rows);
            MatrixXd N(c, c);
            N.setZero();
            N.selfadjointView<Eigen::Lower>().rankUpdate(Jb.transpose());
            N.triangularView<Eigen::StrictlyUpper>() = N.transpose();
            const VectorXd gb = Jb.transpose() * fb;
            Agg_ += N.topLeftCorner(G_, G_);
            gg_ += gb.head(G_);
            Agv_[b] = N.topRightCorner(G_, k);
            Avv_[b] = N.bottomRightCorner(k, k);
            gv_[b] = gb.tail(k);
        }
    }

    // MINPACK's own figures: enorm of each column, over its nonzero part
    // (zeros add nothing to enorm's sums), gathered in row order.
    void ColumnNorms(double* acnorm) const override {
        std::fill(acnorm, acnorm + J_.unknowns, 0.0);
        std::vector<double> column;
        for (int i = 0; i < G_; ++i) {
            column.clear();
            for (const BlockJacobian::Block& block : J_.blocks) {
                const double* v = &block.values[static_cast<size_t>(i) * block.rows];
                column.insert(column.end(), v, v + block.rows);
            }
            acnorm[J_.shared[i]] = enorm(static_cast<int>(column.size()), column.data());
        }
        for (const BlockJacobian::Block& block : J_.blocks)
            for (size_t i = 0; i < block.own.size(); ++i)
                acnorm[block.own[i]] = enorm(block.rows, &block.values[(G_ + i) * static_cast<size_t>(block.rows)]);
    }
    double ScaledGradient(double fnorm, const double* acnorm) const override {
        double gnorm = 0.0;
        auto take = [&](int j, double g) {
            if (acnorm[j] != 0.0) gnorm = std::max(gnorm, std::fabs((g / fnorm) / acnorm[j]));
        };
        for (int i = 0; i < G_; ++i) take(J_.shared[i], gg_[i]);
        for (size_t b = 0; b < J_.blocks.size(); ++b)
            for (size_t i = 0; i < J_.blocks[b].own.size(); ++i) take(J_.blocks[b].own[i], gv_[b][i]);
        return gnorm;
    }

    // lmpar's iteration on par, with each of its triangular solves replaced
    // by the normal equations it stands for: the Gauss-Newton step solves
    // A x = g, and |R^-T v|^2 (the Newton correction) is v^T (A + par D^2)^-1 v.
    bool Lmpar(const double* diag, double delta, double* par, double* x) override {
        const int n = J_.unknowns;
        const double dwarf = dpmpar(2);
        std::vector<double> wa1(n), wa2(n), g(n);
        Gather(g.data());
        if (!Factor(0.0, diag)) return false;
        SolveStep(g.data(), 0.0, diag, x);
        for (int j = 0; j < n; ++j) wa2[j] = diag[j] * x[j];
        double dxnorm = enorm(n, wa2.data());
        double fp = dxnorm - delta;
        int iter = 0;
        if (fp > p1 * delta) {
            // The factor exists, so the Jacobian has full rank: the Newton
            // step gives the lower bound.
            for (int j = 0; j < n; ++j) wa1[j] = diag[j] * (wa2[j] / dxnorm);
            double parl = fp / delta / InverseForm(wa1.data());
            for (int j = 0; j < n; ++j) wa1[j] = g[j] / diag[j];
            const double gnorm = enorm(n, wa1.data());
            double paru = gnorm / delta;
            if (paru == 0.0) paru = dwarf / std::min(delta, p1);
            *par = std::max(*par, parl);
            *par = std::min(*par, paru);
            if (*par == 0.0) *par = gnorm / dxnorm;
            for (;;) {
                ++iter;
                if (*par == 0.0) *par = std::max(dwarf, p001 * paru);
                if (!Factor(*par, diag)) return false;
                SolveStep(g.data(), *par, diag, x);
                for (int j = 0; j < n; ++j) wa2[j] = diag[j] * x[j];
                dxnorm = enorm(n, wa2.data());
                const double previous = fp;
                fp = dxnorm - delta;
                if (std::fabs(fp) <= p1 * delta || (parl == 0.0 && fp <= previous && previous < 0.0) || iter == 10)
                    break;
                for (int j = 0; j < n; ++j) wa1[j] = diag[j] * (wa2[j] / dxnorm);
                const double parc = fp / delta / InverseForm(wa1.data());
                if (fp > 0.0) parl = std::max(parl, *par);
                if (fp < 0.0) paru = std::min(paru, *par);
                *par = std::max(parl, *par + parc);
            }
        }
        if (iter == 0) *par = 0.0;
        return true;
    }

    double ProductNorm(const double* p) const override {
        double sum = 0.0;
        for (const BlockJacobian::Block& block : J_.blocks) {
            const int c = block.Columns(G_);
            VectorXd pb(c);
            for (int i = 0; i < G_; ++i) pb[i] = p[J_.shared[i]];
            for (int i = G_; i < c; ++i) pb[i] = p[block.own[i - G_]];
            sum += (Eigen::Map<const MatrixXd>(block.values.data(), block.rows, c) * pb).squaredNorm();
        }
        return std::sqrt(sum);
    }

private:
    void Gather(double* g) const {
        std::fill(g, g + J_.unknowns, 0.0);
        for (int i = 0; i < G_; ++i) g[J_.shared[i]] = gg_[i];
        for (size_t b = 0; b < J_.blocks.size(); ++b)
            for (size_t i = 0; i < J_.blocks[b].own.size(); ++i) g[J_.blocks[b].own[i]] = gv_[b][i];
    }

    // Factors A + par D^2: each block's own part, then the shared part less
    // what the blocks' own unknowns explain (the Schur complement).
    bool Factor(double par, const double* diag) {
        MatrixXd S = Agg_;
        for (int i = 0; i < G_; ++i) S(i, i) += par * diag[J_.shared[i]] * diag[J_.shared[i]];
        for (size_t b = 0; b < J_.blocks.size(); ++b) {
            const std::vector<int>& own = J_.blocks[b].own;
            MatrixXd M = Avv_[b];
            for (size_t i = 0; i < own.size(); ++i) M(i, i) += par * diag[own[i]] * diag[own[i]];
            llt_[b].compute(M);
            if (llt_[b].info() != Eigen::Success) return false;
            W_[b] = llt_[b].solve(Agv_[b].transpose()).transpose();
            S.noalias() -= W_[b] * Agv_[b].transpose();
        }
        shared_.compute(S);
        return shared_.info() == Eigen::Success;
    }

    // x = (A + par D^2)^-1 rhs with the last factor; rhs and x indexed as the unknowns.
    void Solve(const double* rhs, double* x) const {
        VectorXd rg(G_);
        for (int i = 0; i < G_; ++i) rg[i] = rhs[J_.shared[i]];
        std::vector<VectorXd> rv(J_.blocks.size());
        for (size_t b = 0; b < J_.blocks.size(); ++b) {
            const std::vector<int>& own = J_.blocks[b].own;
            rv[b].resize(static_cast<Eigen::Index>(own.size()));
            for (size_t i = 0; i < own.size(); ++i) rv[b][i] = rhs[own[i]];
            rg.noalias() -= W_[b] * rv[b];
        }
        const VectorXd xg = shared_.solve(rg);
        for (int i = 0; i < G_; ++i) x[J_.shared[i]] = xg[i];
        for (size_t b = 0; b < J_.blocks.size(); ++b) {
            const VectorXd xv = llt_[b].solve(rv[b] - Agv_[b].transpose() * xg);
            const std::vector<int>& own = J_.blocks[b].own;
            for (size_t i = 0; i < own.size(); ++i) x[own[i]] = xv[i];
        }
    }

    // The step itself, refined once from the Jacobian (corrected semi-normal
    // equations): forming J^T J squares the condition number, and the
    // correction J^T (f - J x) - par D^2 x, solved with the same factor,
    // brings the step back to the accuracy of a QR solution.
    void SolveStep(const double* g, double par, const double* diag, double* x) const {
        const int n = J_.unknowns;
        Solve(g, x);
        std::vector<double> correction(static_cast<size_t>(n)), dx(static_cast<size_t>(n));
        for (int j = 0; j < n; ++j) correction[j] = -par * diag[j] * diag[j] * x[j];
        for (const BlockJacobian::Block& block : J_.blocks) {
            const int c = block.Columns(G_);
            VectorXd xb(c);
            for (int i = 0; i < G_; ++i) xb[i] = x[J_.shared[i]];
            for (int i = G_; i < c; ++i) xb[i] = x[block.own[i - G_]];
            const Eigen::Map<const MatrixXd> Jb(block.values.data(), block.rows, c);
            const VectorXd r = Eigen::Map<const VectorXd>(fvec_ + block.firstRow, block.rows) - Jb * xb;
            const VectorXd back = Jb.transpose() * r;
            for (int i = 0; i < G_; ++i) correction[J_.shared[i]] += back[i];
            for (int i = G_; i < c; ++i) correction[block.own[i - G_]] += back[i];
        }
        Solve(correction.data(), dx.data());
        for (int j = 0; j < n; ++j) x[j] += dx[j];
    }

    // v^T (A + par D^2)^-1 v with the last factor.
    double InverseForm(const double* v) const {
        std::vector<double> y(static_cast<size_t>(J_.unknowns));
        Solve(v, y.data());
        double sum = 0.0;
        for (int j = 0; j < J_.unknowns; ++j) sum += v[j] * y[j];
        return sum;
    }

    const BlockJacobian& J_;
    const double* fvec_;
    int G_;
    MatrixXd Agg_;
    VectorXd gg_;
    std::vector<MatrixXd> Agv_, Avv_, W_;
    std::vector<VectorXd> gv_;
    std::vector<Eigen::LLT<MatrixXd>> llt_;
    Eigen::LLT<MatrixXd> shared_;
};

}  // namespace

bool BlockLevenbergMarquardt(const std::function<bool(const vnl_vector<double>&, vnl_vector<double>&)>& residuals,
                             const std::function<bool(const vnl_vector<double>&, BlockJacobian&)>& jacobian,
                             BlockJacobian& J, vnl_vector<double>& x, const BlockLevenbergOptions& options,
                             BlockLevenbergResult& result) {
    result = BlockLevenbergResult{};
    const int n = static_cast<int>(x.size()), m = J.residuals;
    // Refused before anything runs, as VXL refuses.
    if (n == 0 || m < n || J.unknowns != n) return false;

    int calls = 0;
    vnl_vector<double> fx(static_cast<size_t>(m));
    auto evaluate = [&](const vnl_vector<double>& at, double* out) {
        const bool ok = residuals(at, fx);
        if (fx.size() != static_cast<size_t>(m)) {
            fx.set_size(static_cast<size_t>(m));
            return false;
        }
        std::copy(fx.begin(), fx.end(), out);
        if (++calls == 1) result.startRms = fx.rms();
        return ok;
    };

    const int maxfev = options.maxEvaluations > 0 ? options.maxEvaluations : 400 * n;
    const double epsmch = dpmpar(1);
    std::vector<double> fvec(m), wa4(m), diag(n), wa1(n), wa2(n), wa3(n);
    vnl_vector<double> trial(static_cast<size_t>(n));
    int info = 0;
    bool stopped = false;
    if (options.ftol < 0.0 || options.xtol < 0.0 || options.gtol < 0.0 || maxfev <= 0) {
        // lmder's improper input: info 0, straight to the end.
    } else if (!evaluate(x, fvec.data())) {
        stopped = true;
    } else {
        int nfev = 1;
        double fnorm = enorm(m, fvec.data());
        double par = 0.0, delta = 0.0, xnorm = 0.0;
        int iter = 1;
        while (info == 0 && !stopped) {
            if (!jacobian(x, J)) {
                stopped = true;
                break;
            }
            ++result.iterations;
            std::unique_ptr<StepModel> model;
            if (options.solver == StepSolver::kDenseQr)
                model = std::make_unique<DenseModel>(J, fvec.data());
            else
                model = std::make_unique<BlockModel>(J, fvec.data());
            model->ColumnNorms(wa2.data());
            if (iter == 1) {
                for (int j = 0; j < n; ++j) diag[j] = wa2[j] == 0.0 ? 1.0 : wa2[j];
                for (int j = 0; j < n; ++j) wa3[j] = diag[j] * x[j];
                xnorm = enorm(n, wa3.data());
                delta = kStepBoundFactor * xnorm;
                if (delta == 0.0) delta = kStepBoundFactor;
            }
            const double gnorm = fnorm != 0.0 ? model->ScaledGradient(fnorm, wa2.data()) : 0.0;
            if (gnorm <= options.gtol) info = 4;
            if (info != 0) break;
            for (int j = 0; j < n; ++j) diag[j] = std::max(diag[j], wa2[j]);

            double ratio = 0.0;
            do {
                if (!model->Lmpar(diag.data(), delta, &par, wa1.data())) {
                    // Not positive definite: MINPACK's QR takes this iteration.
                    model = std::make_unique<DenseModel>(J, fvec.data());
                    ++result.denseFallbacks;
                    model->Lmpar(diag.data(), delta, &par, wa1.data());
                }
                for (int j = 0; j < n; ++j) {
                    wa1[j] = -wa1[j];
                    trial[j] = x[j] + wa1[j];
                    wa3[j] = diag[j] * wa1[j];
                }
                const double pnorm = enorm(n, wa3.data());
                if (iter == 1) delta = std::min(delta, pnorm);
                ++nfev;
                if (!evaluate(trial, wa4.data())) {
                    stopped = true;
                    break;
                }
                const double fnorm1 = enorm(m, wa4.data());
                double actred = -1.0;
                if (p1 * fnorm1 < fnorm) {
                    const double d1 = fnorm1 / fnorm;
                    actred = 1.0 - d1 * d1;
                }
                const double temp1 = model->ProductNorm(wa1.data()) / fnorm;
                const double temp2 = std::sqrt(par) * pnorm / fnorm;
                const double prered = temp1 * temp1 + temp2 * temp2 / p5;
                const double dirder = -(temp1 * temp1 + temp2 * temp2);
                ratio = prered != 0.0 ? actred / prered : 0.0;
                if (ratio <= p25) {
                    double temp = actred >= 0.0 ? p5 : p5 * dirder / (dirder + p5 * actred);
                    if (p1 * fnorm1 >= fnorm || temp < p1) temp = p1;
                    delta = temp * std::min(delta, pnorm / p1);
                    par /= temp;
                } else if (par == 0.0 || ratio >= p75) {
                    delta = pnorm / p5;
                    par = p5 * par;
                }
                if (ratio >= p0001) {
                    for (int j = 0; j < n; ++j) {
                        x[j] = trial[j];
                        wa2[j] = diag[j] * x[j];
                    }
                    fvec = wa4;
                    xnorm = enorm(n, wa2.data());
                    fnorm = fnorm1;
                    ++iter;
                }
                const bool ftolMet = std::fabs(actred) <= options.ftol && prered <= options.ftol && p5 * ratio <= 1.0;
                if (ftolMet) info = 1;
                if (delta <= options.xtol * xnorm) info = ftolMet ? 3 : 2;
                if (info != 0) break;
                if (nfev >= maxfev) info = 5;
                if (std::fabs(actred) <= epsmch && prered <= epsmch && p5 * ratio <= 1.0) info = 6;
                if (delta <= epsmch * xnorm) info = 7;
                if (gnorm <= epsmch) info = 8;
                if (info != 0) break;
            } while (ratio < p0001);
        }
    }
    result.info = stopped ? -1 : info;
    result.evaluations = calls;
    // The function sees the result last, whatever point was tried last.
    residuals(x, fx);
    result.endRms = fx.rms();
    return result.info >= 1 && result.info <= 4;
}

}  // namespace calibration_detail
