#include "engine/parser.h"

#include <algorithm>
#include <initializer_list>
#include <optional>

#include "engine/lexer.h"
#include "engine/messages.h"

namespace tdslite::detail {
namespace {

int HeightOf(const Select& s);

int HeightOf(const Expr* e) {
    return e ? e->height : 0;
}

int HeightOf(const Select& s) {
    int h = 0;
    for (const SelectItem& item : s.items) h = std::max(h, HeightOf(item.expr.get()));
    h = std::max(h, HeightOf(s.where.get()));
    for (const OrderItem& o : s.order) h = std::max(h, HeightOf(o.expr.get()));
    return h;
}

class Parser {
  public:
    explicit Parser(const std::vector<Token>& tokens) : t_(tokens) {}

    bool Batch(std::vector<Statement>& out) {
        while (!AtEnd()) {
            if (IsOp(";")) {
                ++pos_;
                continue;
            }
            Statement st;
            st.line = Peek().line;
            if (!ParseStatement(st)) return false;
            out.push_back(std::move(st));
            if (!AtEnd() && !IsOp(";") && !AtStatementStart()) return Fail();
        }
        return true;
    }

    Message TakeError() { return std::move(*error_); }

  private:
    // ---- token helpers --------------------------------------------------------------------
    const Token& Peek(std::size_t k = 0) const {
        const std::size_t i = std::min(pos_ + k, t_.size() - 1);
        return t_[i];
    }
    bool AtEnd() const { return Peek().kind == TokenKind::End; }
    bool IsOp(std::string_view op, std::size_t k = 0) const {
        const Token& t = Peek(k);
        return t.kind == TokenKind::Operator && t.value == op;
    }
    bool IsWord(std::string_view upper, std::size_t k = 0) const {
        const Token& t = Peek(k);
        return t.kind == TokenKind::Identifier && t.upper == upper;
    }
    bool AtStatementStart() const {
        for (std::string_view w :
             {"SELECT", "INSERT", "UPDATE", "DELETE", "CREATE", "DROP", "SET"}) {
            if (IsWord(w)) return true;
        }
        return false;
    }
    bool AcceptOp(std::string_view op) {
        if (!IsOp(op)) return false;
        ++pos_;
        return true;
    }
    bool AcceptWord(std::string_view upper) {
        if (!IsWord(upper)) return false;
        ++pos_;
        return true;
    }
    bool ExpectOp(std::string_view op) { return AcceptOp(op) || Fail(); }
    bool ExpectWord(std::string_view upper) { return AcceptWord(upper) || Fail(); }

    /// Records a syntax error at the current token (at the end: the last token) and returns false.
    bool Fail() {
        if (error_) return false;
        std::size_t i = std::min(pos_, t_.size() - 1);
        if (t_[i].kind == TokenKind::End && i > 0) --i;
        const Token& t = t_[i];
        Message m = t.keyword ? msg::SyntaxNearKeyword(t.value) : msg::SyntaxNear(t.value);
        m.line = t.line;
        error_ = std::move(m);
        return false;
    }
    bool FailWith(Message m, std::int32_t line) {
        if (error_) return false;
        m.line = line;
        error_ = std::move(m);
        return false;
    }

    /// A plain non-reserved word or a quoted identifier.
    bool IsName(std::size_t k = 0) const {
        const Token& t = Peek(k);
        return t.kind == TokenKind::QuotedIdentifier ||
               (t.kind == TokenKind::Identifier && !t.keyword);
    }
    bool ParseName(std::string& out) {
        if (!IsName()) return Fail();
        out = Peek().value;
        ++pos_;
        return true;
    }

    /// schema.table with empty parts allowed before the last one.
    bool ParseObjectName(ObjectName& name) {
        name.line = Peek().line;
        name.parts.assign(1, std::string());
        bool have_part = false;
        for (;;) {
            if (!have_part && IsName()) {
                name.parts.back() = Peek().value;
                have_part = true;
                ++pos_;
            } else if (IsOp(".")) {
                name.parts.emplace_back();
                have_part = false;
                ++pos_;
            } else {
                break;
            }
        }
        if (!have_part) return Fail();
        name.text.clear();
        for (std::size_t i = 0; i < name.parts.size(); ++i) {
            if (i > 0) name.text.push_back('.');
            name.text += name.parts[i];
        }
        if (name.parts.size() > 4) return FailWith(msg::TooManyPrefixes(name.text), name.line);
        return true;
    }

    // ---- statements ---------------------------------------------------------------------
    bool ParseStatement(Statement& st) {
        if (IsWord("SELECT")) {
            Select s;
            if (!ParseSelect(s)) return false;
            st.body = std::move(s);
            return true;
        }
        if (AcceptWord("INSERT")) return ParseInsert(st);
        if (AcceptWord("UPDATE")) return ParseUpdate(st);
        if (AcceptWord("DELETE")) return ParseDelete(st);
        if (AcceptWord("CREATE")) {
            if (AcceptWord("TABLE")) return ParseCreateTable(st);
            if (AcceptWord("SCHEMA")) {
                CreateSchema cs;
                if (!ParseName(cs.name)) return false;
                if (AcceptWord("AUTHORIZATION")) {
                    std::string owner;
                    if (!ParseName(owner)) return false;
                }
                st.body = std::move(cs);
                return true;
            }
            return Fail();
        }
        if (AcceptWord("DROP")) {
            if (!ExpectWord("TABLE")) return false;
            DropTable d;
            if (IsWord("IF") && IsWord("EXISTS", 1)) {
                pos_ += 2;
                d.if_exists = true;
            }
            do {
                ObjectName n;
                if (!ParseObjectName(n)) return false;
                d.names.push_back(std::move(n));
            } while (AcceptOp(","));
            st.body = std::move(d);
            return true;
        }
        if (AcceptWord("SET")) {
            // Session options are accepted and ignored: everything up to the next statement.
            if (AtEnd() || IsOp(";")) return Fail();
            while (!AtEnd() && !IsOp(";") && !AtStatementStart()) ++pos_;
            st.body = SetOption{};
            return true;
        }
        if (Peek().kind == TokenKind::Identifier && !Peek().keyword && Peek().value[0] == '@') {
            return FailWith(msg::MustDeclareVariable(Peek().value), Peek().line);
        }
        return Fail();
    }

    bool ParseSelect(Select& s) {
        s.line = Peek().line;
        if (!ExpectWord("SELECT")) return false;
        if (!Enter()) return false;
        do {
            SelectItem item;
            if (AcceptOp("*")) {
                s.items.push_back(std::move(item));
                continue;
            }
            item.expr = ParseScalar();
            if (!item.expr) return false;
            if (AcceptWord("AS")) {
                if (Peek().kind == TokenKind::String) {
                    item.alias = Peek().value;
                    ++pos_;
                } else if (!ParseName(item.alias)) {
                    return false;
                }
                item.has_alias = true;
            } else if (IsName() || Peek().kind == TokenKind::String) {
                item.alias = Peek().value;
                item.has_alias = true;
                ++pos_;
            }
            s.items.push_back(std::move(item));
        } while (AcceptOp(","));
        if (AcceptWord("FROM")) {
            do {
                if (s.from.size() == 2)
                    return Fail();  // joins of more than two tables: not supported
                TableRef ref;
                if (!ParseObjectName(ref.name)) return false;
                if (AcceptWord("AS")) {
                    if (!ParseName(ref.alias)) return false;
                } else if (IsName()) {
                    ref.alias = Peek().value;
                    ++pos_;
                }
                s.from.push_back(std::move(ref));
            } while (AcceptOp(","));
        }
        if (AcceptWord("WHERE")) {
            s.where = ParseCondition();
            if (!s.where) return false;
        }
        if (AcceptWord("ORDER")) {
            if (!ExpectWord("BY")) return false;
            do {
                OrderItem o;
                o.expr = ParseScalar();
                if (!o.expr) return false;
                if (AcceptWord("DESC")) {
                    o.descending = true;
                } else {
                    AcceptWord("ASC");
                }
                s.order.push_back(std::move(o));
            } while (AcceptOp(","));
        }
        Leave();
        return true;
    }

    bool ParseInsert(Statement& st) {
        Insert ins;
        AcceptWord("INTO");
        if (!ParseObjectName(ins.table.name)) return false;
        if (AcceptOp("(")) {
            do {
                std::string col;
                if (!ParseColumnName(col)) return false;
                ins.columns.push_back(std::move(col));
            } while (AcceptOp(","));
            if (!ExpectOp(")")) return false;
        }
        if (!ExpectWord("VALUES")) return false;
        do {
            if (!ExpectOp("(")) return false;
            std::vector<std::unique_ptr<Expr>> row;
            do {
                auto e = ParseScalar();
                if (!e) return false;
                row.push_back(std::move(e));
            } while (AcceptOp(","));
            if (!ExpectOp(")")) return false;
            if (!ins.rows.empty() && row.size() != ins.rows[0].size()) {
                return FailWith(msg::RowValueCountsDiffer(), Peek().line);
            }
            ins.rows.push_back(std::move(row));
        } while (AcceptOp(","));
        st.body = std::move(ins);
        return true;
    }

    /// A column in a column list or SET clause: the last part of a dotted name.
    bool ParseColumnName(std::string& out) {
        if (!ParseName(out)) return false;
        while (IsOp(".") && IsName(1)) {
            pos_ += 2;
            out = t_[pos_ - 1].value;
        }
        return true;
    }

    bool ParseUpdate(Statement& st) {
        Update up;
        if (!ParseObjectName(up.table.name)) return false;
        if (!ExpectWord("SET")) return false;
        do {
            Assignment a;
            std::string col;
            if (!ParseName(col)) return false;
            a.column.push_back(col);
            while (IsOp(".") && IsName(1)) {
                pos_ += 2;
                a.column.push_back(t_[pos_ - 1].value);
            }
            if (!ExpectOp("=")) return false;
            a.value = ParseScalar();
            if (!a.value) return false;
            up.assignments.push_back(std::move(a));
        } while (AcceptOp(","));
        if (AcceptWord("WHERE")) {
            up.where = ParseCondition();
            if (!up.where) return false;
        }
        st.body = std::move(up);
        return true;
    }

    bool ParseDelete(Statement& st) {
        Delete del;
        AcceptWord("FROM");
        if (!ParseObjectName(del.table.name)) return false;
        if (AcceptWord("WHERE")) {
            del.where = ParseCondition();
            if (!del.where) return false;
        }
        st.body = std::move(del);
        return true;
    }

    bool ParseType(ColumnSpec& declared) {
        if (Peek().kind != TokenKind::Identifier && Peek().kind != TokenKind::QuotedIdentifier) {
            return Fail();
        }
        declared.type_name = Peek().value;
        std::string upper = Peek().value;
        for (char& c : upper) {
            if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
        }
        ++pos_;
        declared.type_known = true;
        if (upper == "INT") {
            declared.type.type = SqlType::Int;
        } else if (upper == "SMALLINT") {
            declared.type.type = SqlType::SmallInt;
        } else if (upper == "DATETIME") {
            declared.type.type = SqlType::DateTime;
        } else if (upper == "CHAR" || upper == "VARCHAR") {
            declared.type.type = upper == "CHAR" ? SqlType::Char : SqlType::VarChar;
        } else {
            declared.type_known = false;
        }
        if (AcceptOp("(")) {
            if (Peek().kind != TokenKind::Number) return Fail();
            const std::string& digits = Peek().value;
            declared.length_written = digits.size() > 6 ? 999999 : std::stoi(digits);
            ++pos_;
            if (!ExpectOp(")")) return false;
        }
        return true;
    }

    bool ParseKeyColumns(std::vector<std::string>& cols) {
        if (!ExpectOp("(")) return false;
        do {
            std::string c;
            if (!ParseName(c)) return false;
            if (!AcceptWord("ASC")) AcceptWord("DESC");
            cols.push_back(std::move(c));
        } while (AcceptOp(","));
        return ExpectOp(")");
    }

    bool ParseCreateTable(Statement& st) {
        CreateTable ct;
        if (!ParseObjectName(ct.name)) return false;
        if (!ExpectOp("(")) return false;
        do {
            std::string constraint;
            if (AcceptWord("CONSTRAINT")) {
                if (!ParseName(constraint)) return false;
            }
            if (AcceptWord("PRIMARY")) {
                if (!ExpectWord("KEY")) return false;
                if (!AcceptWord("CLUSTERED")) AcceptWord("NONCLUSTERED");
                ++ct.primary_key_clauses;
                ct.key_columns.clear();
                if (!ParseKeyColumns(ct.key_columns)) return false;
                ct.key_name = constraint;
                continue;
            }
            if (!constraint.empty()) return Fail();
            ColumnSpec col;
            if (!ParseName(col.name)) return false;
            if (!ParseType(col)) return false;
            for (;;) {
                std::string cname;
                if (AcceptWord("CONSTRAINT")) {
                    if (!ParseName(cname)) return false;
                    if (!IsWord("PRIMARY")) return Fail();
                }
                if (AcceptWord("NULL")) {
                    col.nullable = true;
                } else if (IsWord("NOT") && IsWord("NULL", 1)) {
                    pos_ += 2;
                    col.nullable = false;
                } else if (AcceptWord("PRIMARY")) {
                    if (!ExpectWord("KEY")) return false;
                    if (!AcceptWord("CLUSTERED")) AcceptWord("NONCLUSTERED");
                    col.primary_key = true;
                    col.constraint_name = cname;
                    ++ct.primary_key_clauses;
                } else {
                    break;
                }
            }
            ct.columns.push_back(std::move(col));
        } while (AcceptOp(","));
        if (!ExpectOp(")")) return false;
        st.body = std::move(ct);
        return true;
    }

    // ---- expressions --------------------------------------------------------------------
    bool Enter() {
        if (++depth_ > kMaxExpressionHeight / 2) {
            return FailWith(msg::NestedTooDeeply(), Peek().line);
        }
        return true;
    }
    void Leave() { --depth_; }

    std::unique_ptr<Expr> Node(ExprKind kind, const Token& at) {
        auto e = std::make_unique<Expr>();
        e->kind = kind;
        e->line = at.line;
        e->text = at.value;
        return e;
    }

    /// Sets the height from the children; false (with the error) when the tree is too deep.
    bool Seal(Expr& e) {
        int h = 0;
        for (const auto& a : e.args) h = std::max(h, a->height);
        if (e.subquery) h = std::max(h, HeightOf(*e.subquery));
        e.height = h + 1;
        if (e.height > kMaxExpressionHeight) return FailWith(msg::NestedTooDeeply(), e.line);
        return true;
    }

    /// An expression whose value is used (not a condition).
    std::unique_ptr<Expr> ParseScalar() {
        auto e = ParseOr();
        if (!e) return nullptr;
        if (e->predicate) return FailAtPredicate(*e);
        return e;
    }

    /// A condition where a value is expected: a syntax error at the condition's operator.
    std::unique_ptr<Expr> FailAtPredicate(const Expr& e) {
        FailWith(
            e.kind == ExprKind::Compare ? msg::SyntaxNear(e.text) : msg::SyntaxNearKeyword(e.text),
            e.line);
        return nullptr;
    }

    /// A search condition (WHERE).
    std::unique_ptr<Expr> ParseCondition() {
        auto e = ParseOr();
        if (!e) return nullptr;
        if (!e->predicate) return FailNonBoolean();
        return e;
    }

    std::unique_ptr<Expr> FailNonBoolean() {
        std::size_t i = std::min(pos_, t_.size() - 1);
        if (t_[i].kind == TokenKind::End && i > 0) --i;
        FailWith(msg::NonBooleanCondition(t_[i].value), t_[i].line);
        return nullptr;
    }

    std::unique_ptr<Expr> ParseOr() {
        if (!Enter()) return nullptr;
        auto result = ParseLogicalLevel(&Parser::ParseAnd, "OR", ExprKind::Or);
        Leave();
        return result;
    }

    std::unique_ptr<Expr> ParseAnd() {
        return ParseLogicalLevel(&Parser::ParseNot, "AND", ExprKind::And);
    }

    /// One left-associative level of AND or OR: predicates from `operand`, joined by `word`.
    std::unique_ptr<Expr> ParseLogicalLevel(std::unique_ptr<Expr> (Parser::*operand)(),
                                            std::string_view word, ExprKind kind) {
        auto left = (this->*operand)();
        while (left && IsWord(word)) {
            if (!left->predicate) return FailNonBoolean();
            auto node = Node(kind, Peek());
            ++pos_;
            auto right = (this->*operand)();
            if (!right) return nullptr;
            if (!right->predicate) return FailNonBoolean();
            node->predicate = true;
            node->args.push_back(std::move(left));
            node->args.push_back(std::move(right));
            if (!Seal(*node)) return nullptr;
            left = std::move(node);
        }
        return left;
    }

    std::unique_ptr<Expr> ParseNot() {
        if (IsWord("NOT")) {
            auto node = Node(ExprKind::Not, Peek());
            ++pos_;
            if (!Enter()) return nullptr;
            auto inner = ParseNot();
            Leave();
            if (!inner) return nullptr;
            if (!inner->predicate) return FailNonBoolean();
            node->predicate = true;
            node->args.push_back(std::move(inner));
            if (!Seal(*node)) return nullptr;
            return node;
        }
        return ParseComparison();
    }

    std::optional<CompareOp> PeekCompare() const {
        if (Peek().kind != TokenKind::Operator) return std::nullopt;
        const std::string& v = Peek().value;
        if (v == "=") return CompareOp::Eq;
        if (v == "<>" || v == "!=") return CompareOp::Ne;
        if (v == "<" || v == "!>") return v == "<" ? CompareOp::Lt : CompareOp::Le;
        if (v == "<=") return CompareOp::Le;
        if (v == ">" || v == "!<") return v == ">" ? CompareOp::Gt : CompareOp::Ge;
        if (v == ">=") return CompareOp::Ge;
        return std::nullopt;
    }

    std::unique_ptr<Expr> ParseComparison() {
        auto left = ParseAdditive();
        if (!left) return nullptr;
        if (auto op = PeekCompare()) {
            if (left->predicate) return FailAtPredicate(*left);
            auto node = Node(ExprKind::Compare, Peek());
            node->compare = *op;
            ++pos_;
            auto right = ParseAdditive();
            if (!right) return nullptr;
            if (right->predicate) return FailAtPredicate(*right);
            node->predicate = true;
            node->args.push_back(std::move(left));
            node->args.push_back(std::move(right));
            if (!Seal(*node)) return nullptr;
            return node;
        }
        if (IsWord("IS")) {
            if (left->predicate) return FailAtPredicate(*left);
            auto node = Node(ExprKind::IsNull, Peek());
            ++pos_;
            node->is_not = AcceptWord("NOT");
            if (!ExpectWord("NULL")) return nullptr;
            node->predicate = true;
            node->args.push_back(std::move(left));
            if (!Seal(*node)) return nullptr;
            return node;
        }
        return left;
    }

    std::unique_ptr<Expr> ParseAdditive() {
        return ParseArithmeticLevel(&Parser::ParseMultiplicative, {"+", "-"});
    }

    std::unique_ptr<Expr> ParseMultiplicative() {
        return ParseArithmeticLevel(&Parser::ParseUnary, {"*", "/", "%"});
    }

    /// One left-associative level of arithmetic: operands from `operand`, joined by `ops`.
    std::unique_ptr<Expr> ParseArithmeticLevel(std::unique_ptr<Expr> (Parser::*operand)(),
                                               std::initializer_list<std::string_view> ops) {
        const auto at_op = [&] {
            for (const std::string_view op : ops)
                if (IsOp(op)) return true;
            return false;
        };
        auto left = (this->*operand)();
        while (left && at_op()) {
            if (left->predicate) return FailAtPredicate(*left);
            auto node = Node(ExprKind::Arithmetic, Peek());
            node->op = Peek().value[0];
            ++pos_;
            auto right = (this->*operand)();
            if (!right) return nullptr;
            if (right->predicate) return FailAtPredicate(*right);
            node->args.push_back(std::move(left));
            node->args.push_back(std::move(right));
            if (!Seal(*node)) return nullptr;
            left = std::move(node);
        }
        return left;
    }

    std::unique_ptr<Expr> ParseUnary() {
        if (IsOp("-") || IsOp("+")) {
            const bool minus = IsOp("-");
            const Token& op = Peek();
            // A minus directly before an integer literal makes a negative literal, so that
            // -2147483648 is representable.
            if (minus && Peek(1).kind == TokenKind::Number) {
                ++pos_;
                return ParseNumber(true, op.line);
            }
            auto node = Node(ExprKind::Negate, op);
            ++pos_;
            if (!Enter()) return nullptr;
            auto inner = ParseUnary();
            Leave();
            if (!inner) return nullptr;
            if (inner->predicate) return FailAtPredicate(*inner);
            if (!minus) return inner;
            node->args.push_back(std::move(inner));
            if (!Seal(*node)) return nullptr;
            return node;
        }
        return ParsePrimary();
    }

    std::unique_ptr<Expr> ParseNumber(bool negative, std::int32_t line) {
        const Token& t = Peek();
        std::int64_t v = 0;
        bool overflow = t.value.size() > 11;
        if (!overflow) {
            for (char c : t.value) v = v * 10 + (c - '0');
            if (negative) v = -v;
            overflow = v > 2147483647LL || v < -2147483648LL;
        }
        if (overflow) {
            FailWith(msg::ArithmeticOverflow("expression", "int"), line);
            return nullptr;
        }
        auto e = Node(ExprKind::Literal, t);
        e->line = line;
        e->literal = Value::Int(v);
        ++pos_;
        return e;
    }

    bool ParseArguments(Expr& call) {
        if (!ExpectOp("(")) return false;
        if (AcceptOp(")")) return true;
        do {
            auto a = ParseScalar();
            if (!a) return false;
            call.args.push_back(std::move(a));
        } while (AcceptOp(","));
        return ExpectOp(")");
    }

    bool ParseConvertType(Expr& e) {
        ColumnSpec declared;
        const Token& at = Peek();
        if (!ParseType(declared)) return false;
        if (!declared.type_known) {
            return FailWith(
                msg::Make(243, 16, 2, "Type " + declared.type_name + " is not a defined system type."),
                at.line);
        }
        if (declared.type.type == SqlType::Char || declared.type.type == SqlType::VarChar) {
            if (declared.length_written == 0) return FailWith(msg::ZeroLength(at.line), at.line);
            if (declared.length_written > 8000) {
                return FailWith(
                    msg::Make(131, 15, 2,
                              "The size (" + std::to_string(declared.length_written) +
                                  ") given to the type '" + declared.type_name +
                                  "' exceeds the maximum allowed for any data type (8000)."),
                    at.line);
            }
            declared.type.length =
                static_cast<std::uint16_t>(declared.length_written < 0 ? 30 : declared.length_written);
        }
        e.target = declared.type;
        return true;
    }

    std::unique_ptr<Expr> ParsePrimary() {
        const Token& t = Peek();
        switch (t.kind) {
            case TokenKind::String: {
                auto e = Node(ExprKind::Literal, t);
                e->literal = Value::Text(t.value);
                ++pos_;
                return e;
            }
            case TokenKind::Number:
                return ParseNumber(false, t.line);
            case TokenKind::Decimal:
            case TokenKind::Invalid:
            case TokenKind::End:
                Fail();
                return nullptr;
            case TokenKind::Operator: {
                if (!IsOp("(")) {
                    Fail();
                    return nullptr;
                }
                ++pos_;
                if (IsWord("SELECT")) {
                    auto e = Node(ExprKind::Subquery, t);
                    e->subquery = std::make_unique<Select>();
                    if (!Enter()) return nullptr;
                    if (!ParseSelect(*e->subquery)) return nullptr;
                    Leave();
                    if (!ExpectOp(")")) return nullptr;
                    if (!Seal(*e)) return nullptr;
                    return e;
                }
                auto inner = ParseOr();
                if (!inner) return nullptr;
                if (!ExpectOp(")")) return nullptr;
                return inner;
            }
            case TokenKind::QuotedIdentifier:
            case TokenKind::Identifier:
                break;
        }
        if (t.kind == TokenKind::Identifier && t.upper == "NULL") {
            auto e = Node(ExprKind::Literal, t);
            e->literal = Value::Null();
            ++pos_;
            return e;
        }
        if (t.kind == TokenKind::Identifier && (t.upper == "CONVERT" || t.upper == "CAST") &&
            IsOp("(", 1)) {
            auto e = Node(ExprKind::Convert, t);
            pos_ += 2;
            if (t.upper == "CONVERT") {
                if (!ParseConvertType(*e)) return nullptr;
                if (!ExpectOp(",")) return nullptr;
                auto value = ParseScalar();
                if (!value) return nullptr;
                e->args.push_back(std::move(value));
                if (AcceptOp(",")) {
                    auto style = ParseScalar();
                    if (!style) return nullptr;
                    e->args.push_back(std::move(style));
                    e->has_style = true;
                }
            } else {
                auto value = ParseScalar();
                if (!value) return nullptr;
                e->args.push_back(std::move(value));
                if (!ExpectWord("AS")) return nullptr;
                if (!ParseConvertType(*e)) return nullptr;
            }
            if (!ExpectOp(")")) return nullptr;
            if (!Seal(*e)) return nullptr;
            return e;
        }
        if (t.kind == TokenKind::Identifier && IsOp("(", 1) &&
            (!t.keyword || t.upper == "COALESCE")) {
            return ParseFunction();
        }
        if (t.kind == TokenKind::Identifier && t.keyword) {
            Fail();
            return nullptr;
        }
        if (t.kind == TokenKind::Identifier && t.value[0] == '@') {
            FailWith(t.value.size() > 1 && t.value[1] == '@' ? msg::NotBuiltinFunction(t.value)
                                                             : msg::MustDeclareVariable(t.value),
                     t.line);
            return nullptr;
        }
        // Column reference: name(.name)*
        auto e = Node(ExprKind::Column, t);
        e->name.push_back(t.value);
        ++pos_;
        while (IsOp(".") && IsName(1)) {
            e->name.push_back(Peek(1).value);
            pos_ += 2;
        }
        e->text.clear();
        for (std::size_t i = 0; i < e->name.size(); ++i) {
            if (i > 0) e->text.push_back('.');
            e->text += e->name[i];
        }
        if (e->name.size() > 4) {
            FailWith(msg::TooManyPrefixes(e->text), e->line);
            return nullptr;
        }
        return e;
    }

    std::unique_ptr<Expr> ParseFunction() {
        const Token& t = Peek();
        auto e = Node(ExprKind::Function, t);
        struct Known {
            std::string_view name;
            Builtin builtin;
            int min_args;
            int max_args;
        };
        static constexpr Known kKnown[] = {
            {"REPLICATE", Builtin::Replicate, 2, 2},
            {"DATALENGTH", Builtin::DataLength, 1, 1},
            {"LEN", Builtin::Len, 1, 1},
            {"STR", Builtin::Str, 1, 3},
            {"COALESCE", Builtin::Coalesce, 2, 1000},
            {"ISNULL", Builtin::IsNull, 2, 2},
            {"UPPER", Builtin::Upper, 1, 1},
            {"LOWER", Builtin::Lower, 1, 1},
            {"LTRIM", Builtin::LTrim, 1, 1},
            {"RTRIM", Builtin::RTrim, 1, 1},
            {"COUNT", Builtin::Count, 1, 1},
        };
        const Known* known = nullptr;
        for (const Known& k : kKnown) {
            if (k.name == t.upper) known = &k;
        }
        if (!known) {
            FailWith(msg::NotBuiltinFunction(t.value), t.line);
            return nullptr;
        }
        e->builtin = known->builtin;
        pos_ += 1;
        if (known->builtin == Builtin::Count && IsOp("(") && IsOp("*", 1) && IsOp(")", 2)) {
            pos_ += 3;
            e->kind = ExprKind::CountStar;
            return e;
        }
        if (!ParseArguments(*e)) return nullptr;
        const int n = static_cast<int>(e->args.size());
        if (n < known->min_args || n > known->max_args) {
            if (known->builtin == Builtin::Coalesce) {
                FailWith(
                    msg::Make(189, 15, 1, "The coalesce function requires 2 to 254 arguments."),
                    t.line);
            } else {
                FailWith(msg::WrongArgumentCount(
                             known->name, n < known->min_args ? known->min_args : known->max_args),
                         t.line);
            }
            return nullptr;
        }
        if (!Seal(*e)) return nullptr;
        return e;
    }

    const std::vector<Token>& t_;
    std::size_t pos_ = 0;
    int depth_ = 0;
    std::optional<Message> error_;
};

}  // namespace

bool ParseBatch(std::string_view batch, std::vector<Statement>& statements,
                std::vector<Message>& errors) {
    std::vector<Token> tokens;
    if (!Tokenize(batch, tokens, errors)) return false;
    Parser p(tokens);
    if (!p.Batch(statements)) {
        errors.push_back(p.TakeError());
        statements.clear();
        return false;
    }
    return true;
}

}  // namespace tdslite::detail
