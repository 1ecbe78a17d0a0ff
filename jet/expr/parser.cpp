// A recursive-descent parser, one function per precedence level.
#include "jet/expr/parser.h"

#include "jet/expr/eval_error.h"
#include "jet/expr/functions.h"
#include "jet/expr/lexer.h"

namespace jet::expr {

namespace {

bool ieq(std::string_view a, std::string_view b) { return equalsText(a, b); }

// Bounds that keep parsing and evaluation within the stack: tokens in one expression, and nesting
// of parentheses and calls.
constexpr size_t kMaxTokens = 3000;
constexpr int kMaxNesting = 100;

const char* const kReserved[] = {"And", "Or", "Not", "Xor", "Eqv", "Imp", "Mod", "Like", "Between", "In", "Is"};

class Parser {
 public:
  Parser(std::string_view text, std::string_view implied) : text_(text), implied_(implied), toks_(tokenize(text)) {
    if (toks_.size() > kMaxTokens) throwSyntax("Expression too complex", text_);
  }

  Node parseAll() {
    if (implied_.empty() && isSymbol("=")) ++pos_;
    if (peek().kind == Token::Kind::End) throwSyntax("Syntax error", text_);
    Node n = imp();
    if (isSymbol(")")) throwSyntax("Extra )", text_);
    if (peek().kind != Token::Kind::End) throwSyntax(kMissingOperator, text_);
    return n;
  }

 private:
  const Token& peek(size_t ahead = 0) const { return toks_[std::min(pos_ + ahead, toks_.size() - 1)]; }
  bool isSymbol(std::string_view s, size_t ahead = 0) const {
    return peek(ahead).kind == Token::Kind::Symbol && peek(ahead).text == s;
  }
  bool isWord(std::string_view w, size_t ahead = 0) const {
    return peek(ahead).kind == Token::Kind::Word && ieq(peek(ahead).text, w);
  }
  bool acceptWord(std::string_view w) {
    if (!isWord(w)) return false;
    ++pos_;
    return true;
  }
  bool acceptSymbol(std::string_view s) {
    if (!isSymbol(s)) return false;
    ++pos_;
    return true;
  }
  void expectSymbol(std::string_view s) {
    if (!acceptSymbol(s)) throwSyntax(s == ")" ? kMissingBracket : kMissingOperator, text_);
  }

  static Node binary(Op op, Node a, Node b) {
    Node n;
    n.kind = Node::Kind::Binary;
    n.op = op;
    n.args.push_back(std::move(a));
    n.args.push_back(std::move(b));
    return n;
  }

  template <typename Next>
  Node leftAssoc(Next next, std::initializer_list<std::pair<const char*, Op>> ops) {
    Node left = (this->*next)();
    for (;;) {
      bool found = false;
      for (auto [word, op] : ops) {
        bool symbol = !std::isalpha(static_cast<unsigned char>(word[0]));
        if (symbol ? acceptSymbol(word) : acceptWord(word)) {
          left = binary(op, std::move(left), (this->*next)());
          found = true;
          break;
        }
      }
      if (!found) return left;
    }
  }

  Node imp() { return leftAssoc(&Parser::eqv, {{"Imp", Op::Imp}}); }
  Node eqv() { return leftAssoc(&Parser::xorExpr, {{"Eqv", Op::Eqv}}); }
  Node xorExpr() { return leftAssoc(&Parser::orExpr, {{"Xor", Op::Xor}}); }
  Node orExpr() { return leftAssoc(&Parser::andExpr, {{"Or", Op::Or}}); }
  Node andExpr() { return leftAssoc(&Parser::notExpr, {{"And", Op::And}}); }

  Node notExpr() {
    // "Not Like ..." with an implied field belongs to the comparison.
    bool impliedNot = !implied_.empty() && isWord("Not") && (isWord("Like", 1) || isWord("Between", 1) || isWord("In", 1));
    if (!impliedNot && acceptWord("Not")) {
      Node n;
      n.kind = Node::Kind::Not;
      n.args.push_back(notExpr());
      return n;
    }
    return comparison();
  }

  bool comparisonAhead() const {
    static const char* const kOps[] = {"=", "<>", "<", ">", "<=", ">="};
    for (const char* op : kOps)
      if (isSymbol(op)) return true;
    return isWord("Like") || isWord("Between") || isWord("In") || isWord("Is") ||
           (isWord("Not") && (isWord("Like", 1) || isWord("Between", 1) || isWord("In", 1)));
  }

  Node comparison() {
    Node left;
    if (!implied_.empty() && comparisonAhead()) {
      left.kind = Node::Kind::Field;
      left.name = std::string(implied_);
    } else {
      left = concat();
    }
    for (;;) {
      static const std::pair<const char*, Op> kOps[] = {{"=", Op::Eq},  {"<>", Op::Ne}, {"<=", Op::Le},
                                                         {">=", Op::Ge}, {"<", Op::Lt},  {">", Op::Gt}};
      bool matched = false;
      for (auto [sym, op] : kOps) {
        if (acceptSymbol(sym)) {
          left = binary(op, std::move(left), concat());
          matched = true;
          break;
        }
      }
      if (matched) continue;
      bool negated = false;
      if (isWord("Not") && (isWord("Like", 1) || isWord("Between", 1) || isWord("In", 1))) {
        negated = true;
        ++pos_;
      }
      Node n;
      n.negated = negated;
      n.args.push_back(std::move(left));
      if (acceptWord("Like")) {
        n.kind = Node::Kind::Like;
        n.args.push_back(concat());
      } else if (acceptWord("Between")) {
        n.kind = Node::Kind::Between;
        n.args.push_back(concat());
        if (!acceptWord("And")) throwSyntax("Between operator without And", text_);
        n.args.push_back(concat());
      } else if (acceptWord("In")) {
        n.kind = Node::Kind::In;
        if (!acceptSymbol("(")) throwSyntax("In operator without ()", text_);
        do n.args.push_back(imp());
        while (acceptSymbol(","));
        expectSymbol(")");
      } else if (!negated && acceptWord("Is")) {
        n.kind = Node::Kind::IsNull;
        n.negated = acceptWord("Not");
        if (!acceptWord("Null")) throwSyntax("Invalid use of Is operator", text_);
      } else {
        return std::move(n.args[0]);
      }
      left = std::move(n);
    }
  }

  Node concat() { return leftAssoc(&Parser::additive, {{"&", Op::Concat}}); }
  Node additive() { return leftAssoc(&Parser::modulo, {{"+", Op::Add}, {"-", Op::Sub}}); }
  Node modulo() { return leftAssoc(&Parser::intDiv, {{"Mod", Op::Mod}}); }
  Node intDiv() { return leftAssoc(&Parser::multiplicative, {{"\\", Op::IntDiv}}); }
  Node multiplicative() { return leftAssoc(&Parser::unary, {{"*", Op::Mul}, {"/", Op::Div}}); }

  Node unary() {
    if (acceptSymbol("-")) {
      Node n;
      n.kind = Node::Kind::Negate;
      n.args.push_back(unary());
      return n;
    }
    if (acceptSymbol("+")) return unary();
    return power();
  }

  Node power() {
    Node left = primary();
    while (acceptSymbol("^")) left = binary(Op::Pow, std::move(left), exponent());
    return left;
  }

  // The right side of '^' may carry its own sign: 2^-1.
  Node exponent() {
    if (acceptSymbol("-")) {
      Node n;
      n.kind = Node::Kind::Negate;
      n.args.push_back(exponent());
      return n;
    }
    if (acceptSymbol("+")) return exponent();
    return primary();
  }

  Node literal(Var v) {
    Node n;
    n.literal = std::move(v);
    return n;
  }

  Node primary() {
    const Token& t = peek();
    switch (t.kind) {
      case Token::Kind::Number:
      case Token::Kind::Text:
      case Token::Kind::Date:
        ++pos_;
        return literal(t.value);
      case Token::Kind::Bracketed:
        return fieldReference();
      case Token::Kind::Symbol:
        if (acceptSymbol("(")) {
          Nesting guard(*this);
          Node n = imp();
          expectSymbol(")");
          return n;
        }
        throwSyntax(t.text == "," ? "Syntax error (comma)" : kMissingOperator, text_);
      case Token::Kind::End:
        throwSyntax("Syntax error", text_);
      case Token::Kind::Word:
        break;
    }
    if (isSymbol("(", 1)) return call();
    static const std::pair<const char*, int> kConstants[] = {{"True", 1}, {"Yes", 1}, {"On", 1},
                                                              {"False", 0}, {"No", 0}, {"Off", 0}};
    for (auto [word, v] : kConstants)
      if (acceptWord(word)) return literal(Var::boolean(v != 0));
    if (acceptWord("Null")) return literal(Var::null());
    for (const char* r : kReserved)
      if (isWord(r)) throwSyntax(kMissingOperator, text_);
    return fieldReference();
  }

  Node fieldReference() {
    Node n;
    n.kind = Node::Kind::Field;
    n.name = peek().text;
    ++pos_;
    if ((isSymbol(".") || isSymbol("!")) &&
        (peek(1).kind == Token::Kind::Bracketed || peek(1).kind == Token::Kind::Word)) {
      pos_ += 1;
      n.table = n.name;
      n.name = peek().text;
      ++pos_;
      // Three-part names (Forms!Orders!Total) refer to objects outside the table.
      if (isSymbol(".") || isSymbol("!")) throwSyntax("Invalid use of '.', '!', or '()'", text_);
    }
    if (n.name.empty()) throwSyntax("Syntax error", text_);
    return n;
  }

  Node call() {
    Node n;
    n.kind = Node::Kind::Call;
    n.name = peek().text;
    pos_ += 2;
    Nesting guard(*this);
    const FunctionInfo* f = findFunction(n.name);
    if (!f) throw Error(code::kUndefinedFunction, "Undefined function '" + n.name + "' in expression.");
    if (!acceptSymbol(")")) {
      do n.args.push_back(imp());
      while (acceptSymbol(","));
      expectSymbol(")");
    }
    int count = static_cast<int>(n.args.size());
    if (count < f->minArgs || count > f->maxArgs)
      throwSyntax("Wrong number of arguments used with function", text_);
    return n;
  }

  struct Nesting {
    explicit Nesting(Parser& p) : parser(p) {
      if (++parser.depth_ > kMaxNesting) throwSyntax("Expression too complex", parser.text_);
    }
    ~Nesting() { --parser.depth_; }
    Parser& parser;
  };

  std::string_view text_;
  std::string_view implied_;
  int depth_ = 0;
  std::vector<Token> toks_;
  size_t pos_ = 0;
};

}  // namespace

Node parseExpression(std::string_view text, std::string_view impliedField) {
  return Parser(text, impliedField).parseAll();
}

}  // namespace jet::expr
