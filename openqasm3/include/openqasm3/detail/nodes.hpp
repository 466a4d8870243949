// The node classes, in the reference module's order; included by ast.hpp.
// Each lists its own fields in declaration order; constructors take them in that order.
#pragma once

namespace openqasm3::ast {

struct Program : NodeImpl<Program, QASMNode> {
  static constexpr std::string_view kName = "Program";
  std::vector<NodePtr> statements{};
  std::optional<std::string> version{};
  Program() = default;
  explicit Program(std::vector<NodePtr> statements_, std::optional<std::string> version_ = std::nullopt) : statements(std::move(statements_)), version(std::move(version_)) {}
  template <class S> static auto own_fields(S& s) { return std::make_tuple(field("statements", s.statements), field("version", s.version)); }
};

struct Annotation : NodeImpl<Annotation, QASMNode> {
  static constexpr std::string_view kName = "Annotation";
  std::string keyword{};
  std::optional<std::string> command{};
  Annotation() = default;
  explicit Annotation(std::string keyword_, std::optional<std::string> command_ = std::nullopt) : keyword(std::move(keyword_)), command(std::move(command_)) {}
  template <class S> static auto own_fields(S& s) { return std::make_tuple(field("keyword", s.keyword), field("command", s.command)); }
};

struct Statement : NodeImpl<Statement, QASMNode> {
  static constexpr std::string_view kName = "Statement";
  std::vector<Ptr<Annotation>> annotations{};
  template <class S> static auto own_fields(S& s) { return std::make_tuple(field("annotations", s.annotations)); }
};

struct CompoundStatement : NodeImpl<CompoundStatement, Statement> {
  static constexpr std::string_view kName = "CompoundStatement";
  std::vector<StmtPtr> statements{};
  CompoundStatement() = default;
  explicit CompoundStatement(std::vector<StmtPtr> statements_) : statements(std::move(statements_)) {}
  template <class S> static auto own_fields(S& s) { return std::make_tuple(field("statements", s.statements)); }
};

struct Include : NodeImpl<Include, Statement> {
  static constexpr std::string_view kName = "Include";
  std::string filename{};
  Include() = default;
  explicit Include(std::string filename_) : filename(std::move(filename_)) {}
  template <class S> static auto own_fields(S& s) { return std::make_tuple(field("filename", s.filename)); }
};

struct ExpressionStatement : NodeImpl<ExpressionStatement, Statement> {
  static constexpr std::string_view kName = "ExpressionStatement";
  ExprPtr expression{};
  ExpressionStatement() = default;
  explicit ExpressionStatement(ExprPtr expression_) : expression(std::move(expression_)) {}
  template <class S> static auto own_fields(S& s) { return std::make_tuple(field("expression", s.expression)); }
};

struct QubitDeclaration : NodeImpl<QubitDeclaration, Statement> {
  static constexpr std::string_view kName = "QubitDeclaration";
  Ptr<Identifier> qubit{};
  ExprPtr size{};
  QubitDeclaration() = default;
  explicit QubitDeclaration(Ptr<Identifier> qubit_, ExprPtr size_ = nullptr) : qubit(std::move(qubit_)), size(std::move(size_)) {}
  template <class S> static auto own_fields(S& s) { return std::make_tuple(field("qubit", s.qubit), field("size", s.size)); }
};

struct QuantumGateDefinition : NodeImpl<QuantumGateDefinition, Statement> {
  static constexpr std::string_view kName = "QuantumGateDefinition";
  Ptr<Identifier> name{};
  std::vector<Ptr<Identifier>> arguments{};
  std::vector<Ptr<Identifier>> qubits{};
  std::vector<StmtPtr> body{};
  QuantumGateDefinition() = default;
  QuantumGateDefinition(Ptr<Identifier> name_, std::vector<Ptr<Identifier>> arguments_, std::vector<Ptr<Identifier>> qubits_, std::vector<StmtPtr> body_) : name(std::move(name_)), arguments(std::move(arguments_)), qubits(std::move(qubits_)), body(std::move(body_)) {}
  template <class S> static auto own_fields(S& s) { return std::make_tuple(field("name", s.name), field("arguments", s.arguments), field("qubits", s.qubits), field("body", s.body)); }
};

struct QuantumStatement : NodeImpl<QuantumStatement, Statement> {
  static constexpr std::string_view kName = "QuantumStatement";
};

struct ExternDeclaration : NodeImpl<ExternDeclaration, Statement> {
  static constexpr std::string_view kName = "ExternDeclaration";
  Ptr<Identifier> name{};
  std::vector<Ptr<ExternArgument>> arguments{};
  TypePtr return_type{};
  ExternDeclaration() = default;
  ExternDeclaration(Ptr<Identifier> name_, std::vector<Ptr<ExternArgument>> arguments_, TypePtr return_type_ = nullptr) : name(std::move(name_)), arguments(std::move(arguments_)), return_type(std::move(return_type_)) {}
  template <class S> static auto own_fields(S& s) { return std::make_tuple(field("name", s.name), field("arguments", s.arguments), field("return_type", s.return_type)); }
};

struct Expression : NodeImpl<Expression, QASMNode> {
  static constexpr std::string_view kName = "Expression";
};

struct Identifier : NodeImpl<Identifier, Expression> {
  static constexpr std::string_view kName = "Identifier";
  std::string name{};
  Identifier() = default;
  explicit Identifier(std::string name_) : name(std::move(name_)) {}
  template <class S> static auto own_fields(S& s) { return std::make_tuple(field("name", s.name)); }
};

struct UnaryExpression : NodeImpl<UnaryExpression, Expression> {
  static constexpr std::string_view kName = "UnaryExpression";
  UnaryOperator op = UnaryOperator::negate;
  ExprPtr expression{};
  UnaryExpression() = default;
  UnaryExpression(UnaryOperator op_, ExprPtr expression_) : op(op_), expression(std::move(expression_)) {}
  template <class S> static auto own_fields(S& s) { return std::make_tuple(field("op", s.op), field("expression", s.expression)); }
};

struct BinaryExpression : NodeImpl<BinaryExpression, Expression> {
  static constexpr std::string_view kName = "BinaryExpression";
  BinaryOperator op = BinaryOperator::plus;
  ExprPtr lhs{};
  ExprPtr rhs{};
  BinaryExpression() = default;
  BinaryExpression(BinaryOperator op_, ExprPtr lhs_, ExprPtr rhs_) : op(op_), lhs(std::move(lhs_)), rhs(std::move(rhs_)) {}
  template <class S> static auto own_fields(S& s) { return std::make_tuple(field("op", s.op), field("lhs", s.lhs), field("rhs", s.rhs)); }
};

struct IntegerLiteral : NodeImpl<IntegerLiteral, Expression> {
  static constexpr std::string_view kName = "IntegerLiteral";
  std::int64_t value = 0;
  IntegerLiteral() = default;
  explicit IntegerLiteral(std::int64_t value_) : value(value_) {}
  template <class S> static auto own_fields(S& s) { return std::make_tuple(field("value", s.value)); }
};

struct FloatLiteral : NodeImpl<FloatLiteral, Expression> {
  static constexpr std::string_view kName = "FloatLiteral";
  double value = 0.0;
  FloatLiteral() = default;
  explicit FloatLiteral(double value_) : value(value_) {}
  template <class S> static auto own_fields(S& s) { return std::make_tuple(field("value", s.value)); }
};

struct ImaginaryLiteral : NodeImpl<ImaginaryLiteral, Expression> {
  static constexpr std::string_view kName = "ImaginaryLiteral";
  double value = 0.0;
  ImaginaryLiteral() = default;
  explicit ImaginaryLiteral(double value_) : value(value_) {}
  template <class S> static auto own_fields(S& s) { return std::make_tuple(field("value", s.value)); }
};

struct BooleanLiteral : NodeImpl<BooleanLiteral, Expression> {
  static constexpr std::string_view kName = "BooleanLiteral";
  bool value = false;
  BooleanLiteral() = default;
  explicit BooleanLiteral(bool value_) : value(value_) {}
  template <class S> static auto own_fields(S& s) { return std::make_tuple(field("value", s.value)); }
};

struct BitstringLiteral : NodeImpl<BitstringLiteral, Expression> {
  static constexpr std::string_view kName = "BitstringLiteral";
  std::int64_t value = 0;
  std::int64_t width = 0;
  BitstringLiteral() = default;
  BitstringLiteral(std::int64_t value_, std::int64_t width_) : value(value_), width(width_) {}
  template <class S> static auto own_fields(S& s) { return std::make_tuple(field("value", s.value), field("width", s.width)); }
};

struct DurationLiteral : NodeImpl<DurationLiteral, Expression> {
  static constexpr std::string_view kName = "DurationLiteral";
  double value = 0.0;
  TimeUnit unit = TimeUnit::ns;
  DurationLiteral() = default;
  DurationLiteral(double value_, TimeUnit unit_) : value(value_), unit(unit_) {}
  template <class S> static auto own_fields(S& s) { return std::make_tuple(field("value", s.value), field("unit", s.unit)); }
};

struct ArrayLiteral : NodeImpl<ArrayLiteral, Expression> {
  static constexpr std::string_view kName = "ArrayLiteral";
  std::vector<ExprPtr> values{};
  ArrayLiteral() = default;
  explicit ArrayLiteral(std::vector<ExprPtr> values_) : values(std::move(values_)) {}
  template <class S> static auto own_fields(S& s) { return std::make_tuple(field("values", s.values)); }
};

struct FunctionCall : NodeImpl<FunctionCall, Expression> {
  static constexpr std::string_view kName = "FunctionCall";
  Ptr<Identifier> name{};
  std::vector<ExprPtr> arguments{};
  FunctionCall() = default;
  FunctionCall(Ptr<Identifier> name_, std::vector<ExprPtr> arguments_) : name(std::move(name_)), arguments(std::move(arguments_)) {}
  template <class S> static auto own_fields(S& s) { return std::make_tuple(field("name", s.name), field("arguments", s.arguments)); }
};

struct Cast : NodeImpl<Cast, Expression> {
  static constexpr std::string_view kName = "Cast";
  TypePtr type{};
  ExprPtr argument{};
  Cast() = default;
  Cast(TypePtr type_, ExprPtr argument_) : type(std::move(type_)), argument(std::move(argument_)) {}
  template <class S> static auto own_fields(S& s) { return std::make_tuple(field("type", s.type), field("argument", s.argument)); }
};

struct DiscreteSet : NodeImpl<DiscreteSet, QASMNode> {
  static constexpr std::string_view kName = "DiscreteSet";
  std::vector<ExprPtr> values{};
  DiscreteSet() = default;
  explicit DiscreteSet(std::vector<ExprPtr> values_) : values(std::move(values_)) {}
  template <class S> static auto own_fields(S& s) { return std::make_tuple(field("values", s.values)); }
};

struct RangeDefinition : NodeImpl<RangeDefinition, QASMNode> {
  static constexpr std::string_view kName = "RangeDefinition";
  ExprPtr start{};
  ExprPtr end{};
  ExprPtr step{};
  RangeDefinition() = default;
  RangeDefinition(ExprPtr start_, ExprPtr end_, ExprPtr step_) : start(std::move(start_)), end(std::move(end_)), step(std::move(step_)) {}
  template <class S> static auto own_fields(S& s) { return std::make_tuple(field("start", s.start), field("end", s.end), field("step", s.step)); }
};

struct IndexExpression : NodeImpl<IndexExpression, Expression> {
  static constexpr std::string_view kName = "IndexExpression";
  ExprPtr collection{};
  IndexElement index{};
  IndexExpression() = default;
  IndexExpression(ExprPtr collection_, IndexElement index_) : collection(std::move(collection_)), index(std::move(index_)) {}
  template <class S> static auto own_fields(S& s) { return std::make_tuple(field("collection", s.collection), field("index", s.index)); }
};

struct IndexedIdentifier : NodeImpl<IndexedIdentifier, QASMNode> {
  static constexpr std::string_view kName = "IndexedIdentifier";
  Ptr<Identifier> name{};
  std::vector<IndexElement> indices{};
  IndexedIdentifier() = default;
  IndexedIdentifier(Ptr<Identifier> name_, std::vector<IndexElement> indices_) : name(std::move(name_)), indices(std::move(indices_)) {}
  template <class S> static auto own_fields(S& s) { return std::make_tuple(field("name", s.name), field("indices", s.indices)); }
};

struct Concatenation : NodeImpl<Concatenation, Expression> {
  static constexpr std::string_view kName = "Concatenation";
  ExprPtr lhs{};
  ExprPtr rhs{};
  Concatenation() = default;
  Concatenation(ExprPtr lhs_, ExprPtr rhs_) : lhs(std::move(lhs_)), rhs(std::move(rhs_)) {}
  template <class S> static auto own_fields(S& s) { return std::make_tuple(field("lhs", s.lhs), field("rhs", s.rhs)); }
};

struct QuantumGate : NodeImpl<QuantumGate, QuantumStatement> {
  static constexpr std::string_view kName = "QuantumGate";
  std::vector<Ptr<QuantumGateModifier>> modifiers{};
  Ptr<Identifier> name{};
  std::vector<ExprPtr> arguments{};
  std::vector<NodePtr> qubits{};
  ExprPtr duration{};
  QuantumGate() = default;
  QuantumGate(std::vector<Ptr<QuantumGateModifier>> modifiers_, Ptr<Identifier> name_, std::vector<ExprPtr> arguments_, std::vector<NodePtr> qubits_, ExprPtr duration_ = nullptr) : modifiers(std::move(modifiers_)), name(std::move(name_)), arguments(std::move(arguments_)), qubits(std::move(qubits_)), duration(std::move(duration_)) {}
  template <class S> static auto own_fields(S& s) { return std::make_tuple(field("modifiers", s.modifiers), field("name", s.name), field("arguments", s.arguments), field("qubits", s.qubits), field("duration", s.duration)); }
};

struct QuantumGateModifier : NodeImpl<QuantumGateModifier, QASMNode> {
  static constexpr std::string_view kName = "QuantumGateModifier";
  GateModifierName modifier = GateModifierName::inv;
  ExprPtr argument{};
  QuantumGateModifier() = default;
  explicit QuantumGateModifier(GateModifierName modifier_, ExprPtr argument_ = nullptr) : modifier(modifier_), argument(std::move(argument_)) {}
  template <class S> static auto own_fields(S& s) { return std::make_tuple(field("modifier", s.modifier), field("argument", s.argument)); }
};

struct QuantumPhase : NodeImpl<QuantumPhase, QuantumStatement> {
  static constexpr std::string_view kName = "QuantumPhase";
  std::vector<Ptr<QuantumGateModifier>> modifiers{};
  ExprPtr argument{};
  std::vector<NodePtr> qubits{};
  // The designator of `gphase(a)[d] q;`. The reference front end parses and discards it; it is
  // kept here so that the statement survives a print and re-parse unchanged.
  ExprPtr duration{};
  QuantumPhase() = default;
  QuantumPhase(std::vector<Ptr<QuantumGateModifier>> modifiers_, ExprPtr argument_, std::vector<NodePtr> qubits_, ExprPtr duration_ = nullptr) : modifiers(std::move(modifiers_)), argument(std::move(argument_)), qubits(std::move(qubits_)), duration(std::move(duration_)) {}
  template <class S> static auto own_fields(S& s) { return std::make_tuple(field("modifiers", s.modifiers), field("argument", s.argument), field("qubits", s.qubits), field("duration", s.duration)); }
};

struct QuantumNop : NodeImpl<QuantumNop, QuantumStatement> {
  static constexpr std::string_view kName = "QuantumNop";
  std::vector<NodePtr> operands{};
  QuantumNop() = default;
  explicit QuantumNop(std::vector<NodePtr> operands_) : operands(std::move(operands_)) {}
  template <class S> static auto own_fields(S& s) { return std::make_tuple(field("operands", s.operands)); }
};

struct QuantumMeasurement : NodeImpl<QuantumMeasurement, QASMNode> {
  static constexpr std::string_view kName = "QuantumMeasurement";
  NodePtr qubit{};
  QuantumMeasurement() = default;
  explicit QuantumMeasurement(NodePtr qubit_) : qubit(std::move(qubit_)) {}
  template <class S> static auto own_fields(S& s) { return std::make_tuple(field("qubit", s.qubit)); }
};

struct QuantumCallExpression : NodeImpl<QuantumCallExpression, QASMNode> {
  static constexpr std::string_view kName = "QuantumCallExpression";
  Ptr<Identifier> name{};
  std::vector<ExprPtr> arguments{};
  std::vector<NodePtr> qubits{};
  QuantumCallExpression() = default;
  QuantumCallExpression(Ptr<Identifier> name_, std::vector<ExprPtr> arguments_, std::vector<NodePtr> qubits_) : name(std::move(name_)), arguments(std::move(arguments_)), qubits(std::move(qubits_)) {}
  template <class S> static auto own_fields(S& s) { return std::make_tuple(field("name", s.name), field("arguments", s.arguments), field("qubits", s.qubits)); }
};

struct QuantumMeasurementStatement : NodeImpl<QuantumMeasurementStatement, Statement> {
  static constexpr std::string_view kName = "QuantumMeasurementStatement";
  NodePtr measure{};
  NodePtr target{};
  QuantumMeasurementStatement() = default;
  QuantumMeasurementStatement(NodePtr measure_, NodePtr target_) : measure(std::move(measure_)), target(std::move(target_)) {}
  template <class S> static auto own_fields(S& s) { return std::make_tuple(field("measure", s.measure), field("target", s.target)); }
};

struct QuantumBarrier : NodeImpl<QuantumBarrier, QuantumStatement> {
  static constexpr std::string_view kName = "QuantumBarrier";
  std::vector<NodePtr> qubits{};
  QuantumBarrier() = default;
  explicit QuantumBarrier(std::vector<NodePtr> qubits_) : qubits(std::move(qubits_)) {}
  template <class S> static auto own_fields(S& s) { return std::make_tuple(field("qubits", s.qubits)); }
};

struct QuantumReset : NodeImpl<QuantumReset, Statement> {
  static constexpr std::string_view kName = "QuantumReset";
  NodePtr qubits{};
  QuantumReset() = default;
  explicit QuantumReset(NodePtr qubits_) : qubits(std::move(qubits_)) {}
  template <class S> static auto own_fields(S& s) { return std::make_tuple(field("qubits", s.qubits)); }
};

struct ClassicalArgument : NodeImpl<ClassicalArgument, QASMNode> {
  static constexpr std::string_view kName = "ClassicalArgument";
  TypePtr type{};
  Ptr<Identifier> name{};
  std::optional<AccessControl> access{};
  ClassicalArgument() = default;
  ClassicalArgument(TypePtr type_, Ptr<Identifier> name_, std::optional<AccessControl> access_ = std::nullopt) : type(std::move(type_)), name(std::move(name_)), access(std::move(access_)) {}
  template <class S> static auto own_fields(S& s) { return std::make_tuple(field("type", s.type), field("name", s.name), field("access", s.access)); }
};

struct ExternArgument : NodeImpl<ExternArgument, QASMNode> {
  static constexpr std::string_view kName = "ExternArgument";
  TypePtr type{};
  std::optional<AccessControl> access{};
  ExternArgument() = default;
  explicit ExternArgument(TypePtr type_, std::optional<AccessControl> access_ = std::nullopt) : type(std::move(type_)), access(std::move(access_)) {}
  template <class S> static auto own_fields(S& s) { return std::make_tuple(field("type", s.type), field("access", s.access)); }
};

struct ClassicalDeclaration : NodeImpl<ClassicalDeclaration, Statement> {
  static constexpr std::string_view kName = "ClassicalDeclaration";
  TypePtr type{};
  Ptr<Identifier> identifier{};
  NodePtr init_expression{};
  ClassicalDeclaration() = default;
  ClassicalDeclaration(TypePtr type_, Ptr<Identifier> identifier_, NodePtr init_expression_ = nullptr) : type(std::move(type_)), identifier(std::move(identifier_)), init_expression(std::move(init_expression_)) {}
  template <class S> static auto own_fields(S& s) { return std::make_tuple(field("type", s.type), field("identifier", s.identifier), field("init_expression", s.init_expression)); }
};

struct IODeclaration : NodeImpl<IODeclaration, Statement> {
  static constexpr std::string_view kName = "IODeclaration";
  IOKeyword io_identifier = IOKeyword::input;
  TypePtr type{};
  Ptr<Identifier> identifier{};
  IODeclaration() = default;
  IODeclaration(IOKeyword io_identifier_, TypePtr type_, Ptr<Identifier> identifier_) : io_identifier(io_identifier_), type(std::move(type_)), identifier(std::move(identifier_)) {}
  template <class S> static auto own_fields(S& s) { return std::make_tuple(field("io_identifier", s.io_identifier), field("type", s.type), field("identifier", s.identifier)); }
};

struct ConstantDeclaration : NodeImpl<ConstantDeclaration, Statement> {
  static constexpr std::string_view kName = "ConstantDeclaration";
  TypePtr type{};
  Ptr<Identifier> identifier{};
  ExprPtr init_expression{};
  ConstantDeclaration() = default;
  ConstantDeclaration(TypePtr type_, Ptr<Identifier> identifier_, ExprPtr init_expression_) : type(std::move(type_)), identifier(std::move(identifier_)), init_expression(std::move(init_expression_)) {}
  template <class S> static auto own_fields(S& s) { return std::make_tuple(field("type", s.type), field("identifier", s.identifier), field("init_expression", s.init_expression)); }
};

struct ClassicalType : NodeImpl<ClassicalType, QASMNode> {
  static constexpr std::string_view kName = "ClassicalType";
};

struct IntType : NodeImpl<IntType, ClassicalType> {
  static constexpr std::string_view kName = "IntType";
  ExprPtr size{};
  IntType() = default;
  explicit IntType(ExprPtr size_) : size(std::move(size_)) {}
  template <class S> static auto own_fields(S& s) { return std::make_tuple(field("size", s.size)); }
};

struct UintType : NodeImpl<UintType, ClassicalType> {
  static constexpr std::string_view kName = "UintType";
  ExprPtr size{};
  UintType() = default;
  explicit UintType(ExprPtr size_) : size(std::move(size_)) {}
  template <class S> static auto own_fields(S& s) { return std::make_tuple(field("size", s.size)); }
};

struct FloatType : NodeImpl<FloatType, ClassicalType> {
  static constexpr std::string_view kName = "FloatType";
  ExprPtr size{};
  FloatType() = default;
  explicit FloatType(ExprPtr size_) : size(std::move(size_)) {}
  template <class S> static auto own_fields(S& s) { return std::make_tuple(field("size", s.size)); }
};

struct ComplexType : NodeImpl<ComplexType, ClassicalType> {
  static constexpr std::string_view kName = "ComplexType";
  Ptr<FloatType> base_type{};
  ComplexType() = default;
  explicit ComplexType(Ptr<FloatType> base_type_) : base_type(std::move(base_type_)) {}
  template <class S> static auto own_fields(S& s) { return std::make_tuple(field("base_type", s.base_type)); }
};

struct AngleType : NodeImpl<AngleType, ClassicalType> {
  static constexpr std::string_view kName = "AngleType";
  ExprPtr size{};
  AngleType() = default;
  explicit AngleType(ExprPtr size_) : size(std::move(size_)) {}
  template <class S> static auto own_fields(S& s) { return std::make_tuple(field("size", s.size)); }
};

struct BitType : NodeImpl<BitType, ClassicalType> {
  static constexpr std::string_view kName = "BitType";
  ExprPtr size{};
  BitType() = default;
  explicit BitType(ExprPtr size_) : size(std::move(size_)) {}
  template <class S> static auto own_fields(S& s) { return std::make_tuple(field("size", s.size)); }
};

struct BoolType : NodeImpl<BoolType, ClassicalType> {
  static constexpr std::string_view kName = "BoolType";
};

struct ArrayType : NodeImpl<ArrayType, ClassicalType> {
  static constexpr std::string_view kName = "ArrayType";
  TypePtr base_type{};
  std::vector<ExprPtr> dimensions{};
  ArrayType() = default;
  ArrayType(TypePtr base_type_, std::vector<ExprPtr> dimensions_) : base_type(std::move(base_type_)), dimensions(std::move(dimensions_)) {}
  template <class S> static auto own_fields(S& s) { return std::make_tuple(field("base_type", s.base_type), field("dimensions", s.dimensions)); }
};

struct ArrayReferenceType : NodeImpl<ArrayReferenceType, ClassicalType> {
  static constexpr std::string_view kName = "ArrayReferenceType";
  TypePtr base_type{};
  ArrayDimensions dimensions{};
  ArrayReferenceType() = default;
  ArrayReferenceType(TypePtr base_type_, ArrayDimensions dimensions_) : base_type(std::move(base_type_)), dimensions(std::move(dimensions_)) {}
  template <class S> static auto own_fields(S& s) { return std::make_tuple(field("base_type", s.base_type), field("dimensions", s.dimensions)); }
};

struct DurationType : NodeImpl<DurationType, ClassicalType> {
  static constexpr std::string_view kName = "DurationType";
};

struct StretchType : NodeImpl<StretchType, ClassicalType> {
  static constexpr std::string_view kName = "StretchType";
};

struct CalibrationGrammarDeclaration : NodeImpl<CalibrationGrammarDeclaration, Statement> {
  static constexpr std::string_view kName = "CalibrationGrammarDeclaration";
  std::string name{};
  CalibrationGrammarDeclaration() = default;
  explicit CalibrationGrammarDeclaration(std::string name_) : name(std::move(name_)) {}
  template <class S> static auto own_fields(S& s) { return std::make_tuple(field("name", s.name)); }
};

struct CalibrationStatement : NodeImpl<CalibrationStatement, Statement> {
  static constexpr std::string_view kName = "CalibrationStatement";
  std::string body{};
  CalibrationStatement() = default;
  explicit CalibrationStatement(std::string body_) : body(std::move(body_)) {}
  template <class S> static auto own_fields(S& s) { return std::make_tuple(field("body", s.body)); }
};

struct CalibrationDefinition : NodeImpl<CalibrationDefinition, Statement> {
  static constexpr std::string_view kName = "CalibrationDefinition";
  Ptr<Identifier> name{};
  std::vector<NodePtr> arguments{};
  std::vector<Ptr<Identifier>> qubits{};
  TypePtr return_type{};
  std::string body{};
  CalibrationDefinition() = default;
  CalibrationDefinition(Ptr<Identifier> name_, std::vector<NodePtr> arguments_, std::vector<Ptr<Identifier>> qubits_, TypePtr return_type_, std::string body_) : name(std::move(name_)), arguments(std::move(arguments_)), qubits(std::move(qubits_)), return_type(std::move(return_type_)), body(std::move(body_)) {}
  template <class S> static auto own_fields(S& s) { return std::make_tuple(field("name", s.name), field("arguments", s.arguments), field("qubits", s.qubits), field("return_type", s.return_type), field("body", s.body)); }
};

struct SubroutineDefinition : NodeImpl<SubroutineDefinition, Statement> {
  static constexpr std::string_view kName = "SubroutineDefinition";
  Ptr<Identifier> name{};
  std::vector<NodePtr> arguments{};
  std::vector<StmtPtr> body{};
  TypePtr return_type{};
  SubroutineDefinition() = default;
  SubroutineDefinition(Ptr<Identifier> name_, std::vector<NodePtr> arguments_, std::vector<StmtPtr> body_, TypePtr return_type_ = nullptr) : name(std::move(name_)), arguments(std::move(arguments_)), body(std::move(body_)), return_type(std::move(return_type_)) {}
  template <class S> static auto own_fields(S& s) { return std::make_tuple(field("name", s.name), field("arguments", s.arguments), field("body", s.body), field("return_type", s.return_type)); }
};

struct QuantumArgument : NodeImpl<QuantumArgument, QASMNode> {
  static constexpr std::string_view kName = "QuantumArgument";
  Ptr<Identifier> name{};
  ExprPtr size{};
  QuantumArgument() = default;
  explicit QuantumArgument(Ptr<Identifier> name_, ExprPtr size_ = nullptr) : name(std::move(name_)), size(std::move(size_)) {}
  template <class S> static auto own_fields(S& s) { return std::make_tuple(field("name", s.name), field("size", s.size)); }
};

struct ReturnStatement : NodeImpl<ReturnStatement, Statement> {
  static constexpr std::string_view kName = "ReturnStatement";
  NodePtr expression{};
  ReturnStatement() = default;
  explicit ReturnStatement(NodePtr expression_) : expression(std::move(expression_)) {}
  template <class S> static auto own_fields(S& s) { return std::make_tuple(field("expression", s.expression)); }
};

struct BreakStatement : NodeImpl<BreakStatement, Statement> {
  static constexpr std::string_view kName = "BreakStatement";
};

struct ContinueStatement : NodeImpl<ContinueStatement, Statement> {
  static constexpr std::string_view kName = "ContinueStatement";
};

struct EndStatement : NodeImpl<EndStatement, Statement> {
  static constexpr std::string_view kName = "EndStatement";
};

struct BranchingStatement : NodeImpl<BranchingStatement, Statement> {
  static constexpr std::string_view kName = "BranchingStatement";
  ExprPtr condition{};
  std::vector<StmtPtr> if_block{};
  std::vector<StmtPtr> else_block{};
  BranchingStatement() = default;
  BranchingStatement(ExprPtr condition_, std::vector<StmtPtr> if_block_, std::vector<StmtPtr> else_block_) : condition(std::move(condition_)), if_block(std::move(if_block_)), else_block(std::move(else_block_)) {}
  template <class S> static auto own_fields(S& s) { return std::make_tuple(field("condition", s.condition), field("if_block", s.if_block), field("else_block", s.else_block)); }
};

struct WhileLoop : NodeImpl<WhileLoop, Statement> {
  static constexpr std::string_view kName = "WhileLoop";
  ExprPtr while_condition{};
  std::vector<StmtPtr> block{};
  WhileLoop() = default;
  WhileLoop(ExprPtr while_condition_, std::vector<StmtPtr> block_) : while_condition(std::move(while_condition_)), block(std::move(block_)) {}
  template <class S> static auto own_fields(S& s) { return std::make_tuple(field("while_condition", s.while_condition), field("block", s.block)); }
};

struct ForInLoop : NodeImpl<ForInLoop, Statement> {
  static constexpr std::string_view kName = "ForInLoop";
  TypePtr type{};
  Ptr<Identifier> identifier{};
  NodePtr set_declaration{};
  std::vector<StmtPtr> block{};
  ForInLoop() = default;
  ForInLoop(TypePtr type_, Ptr<Identifier> identifier_, NodePtr set_declaration_, std::vector<StmtPtr> block_) : type(std::move(type_)), identifier(std::move(identifier_)), set_declaration(std::move(set_declaration_)), block(std::move(block_)) {}
  template <class S> static auto own_fields(S& s) { return std::make_tuple(field("type", s.type), field("identifier", s.identifier), field("set_declaration", s.set_declaration), field("block", s.block)); }
};

struct SwitchStatement : NodeImpl<SwitchStatement, Statement> {
  static constexpr std::string_view kName = "SwitchStatement";
  ExprPtr target{};
  std::vector<SwitchCase> cases{};
  Ptr<CompoundStatement> default_{};
  SwitchStatement() = default;
  SwitchStatement(ExprPtr target_, std::vector<SwitchCase> cases_, Ptr<CompoundStatement> default__) : target(std::move(target_)), cases(std::move(cases_)), default_(std::move(default__)) {}
  template <class S> static auto own_fields(S& s) { return std::make_tuple(field("target", s.target), field("cases", s.cases), field("default", s.default_)); }
};

struct DelayInstruction : NodeImpl<DelayInstruction, Statement> {
  static constexpr std::string_view kName = "DelayInstruction";
  ExprPtr duration{};
  std::vector<NodePtr> qubits{};
  DelayInstruction() = default;
  DelayInstruction(ExprPtr duration_, std::vector<NodePtr> qubits_) : duration(std::move(duration_)), qubits(std::move(qubits_)) {}
  template <class S> static auto own_fields(S& s) { return std::make_tuple(field("duration", s.duration), field("qubits", s.qubits)); }
};

struct Box : NodeImpl<Box, Statement> {
  static constexpr std::string_view kName = "Box";
  ExprPtr duration{};
  std::vector<StmtPtr> body{};
  Box() = default;
  Box(ExprPtr duration_, std::vector<StmtPtr> body_) : duration(std::move(duration_)), body(std::move(body_)) {}
  template <class S> static auto own_fields(S& s) { return std::make_tuple(field("duration", s.duration), field("body", s.body)); }
};

struct DurationOf : NodeImpl<DurationOf, Expression> {
  static constexpr std::string_view kName = "DurationOf";
  std::vector<StmtPtr> target{};
  DurationOf() = default;
  explicit DurationOf(std::vector<StmtPtr> target_) : target(std::move(target_)) {}
  template <class S> static auto own_fields(S& s) { return std::make_tuple(field("target", s.target)); }
};

struct SizeOf : NodeImpl<SizeOf, Expression> {
  static constexpr std::string_view kName = "SizeOf";
  ExprPtr target{};
  ExprPtr index{};
  SizeOf() = default;
  explicit SizeOf(ExprPtr target_, ExprPtr index_ = nullptr) : target(std::move(target_)), index(std::move(index_)) {}
  template <class S> static auto own_fields(S& s) { return std::make_tuple(field("target", s.target), field("index", s.index)); }
};

struct AliasStatement : NodeImpl<AliasStatement, Statement> {
  static constexpr std::string_view kName = "AliasStatement";
  Ptr<Identifier> target{};
  ExprPtr value{};
  AliasStatement() = default;
  AliasStatement(Ptr<Identifier> target_, ExprPtr value_) : target(std::move(target_)), value(std::move(value_)) {}
  template <class S> static auto own_fields(S& s) { return std::make_tuple(field("target", s.target), field("value", s.value)); }
};

struct ClassicalAssignment : NodeImpl<ClassicalAssignment, Statement> {
  static constexpr std::string_view kName = "ClassicalAssignment";
  NodePtr lvalue{};
  AssignmentOperator op = AssignmentOperator::assign;
  ExprPtr rvalue{};
  ClassicalAssignment() = default;
  ClassicalAssignment(NodePtr lvalue_, AssignmentOperator op_, ExprPtr rvalue_) : lvalue(std::move(lvalue_)), op(op_), rvalue(std::move(rvalue_)) {}
  template <class S> static auto own_fields(S& s) { return std::make_tuple(field("lvalue", s.lvalue), field("op", s.op), field("rvalue", s.rvalue)); }
};

struct Pragma : NodeImpl<Pragma, QASMNode> {
  static constexpr std::string_view kName = "Pragma";
  std::string command{};
  Pragma() = default;
  explicit Pragma(std::string command_) : command(std::move(command_)) {}
  template <class S> static auto own_fields(S& s) { return std::make_tuple(field("command", s.command)); }
};

}  // namespace openqasm3::ast
