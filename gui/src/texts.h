#pragma once
// The desktop host's own texts shown to operators (the screen's come from its catalogue).
namespace acerto::gui::texts {

inline constexpr const char* Sim = "&Sim";
inline constexpr const char* Nao = "&Não";
inline constexpr const char* Ok = "OK";
inline constexpr const char* Cancelar = "Cancelar";
inline constexpr const char* Fechar = "&Fechar";
inline constexpr const char* Imprimir = "&Imprimir";
inline constexpr const char* Erro = "Erro";
inline constexpr const char* Aviso = "Aviso";
inline constexpr const char* Informacao = "Informação";
inline constexpr const char* Confirmacao = "Confirmação";
inline constexpr const char* Procurar = "Procurar";
inline constexpr const char* ProcurarPor = "Procurar por:";
inline constexpr const char* NadaEncontrado = "Nada encontrado.";
inline constexpr const char* DigiteParaProcurar = "Digite para procurar";
inline constexpr const char* TelaIndisponivel = "A tela %1 não está disponível neste sistema.";
inline constexpr const char* Ajuda = "Ajuda - Acerto Final";
inline constexpr const char* AjudaAusente = "O guia do operador não foi encontrado nesta instalação.";
inline constexpr const char* Sistema = "&Sistema";
inline constexpr const char* AcertoFinal = "&Acerto Final";
inline constexpr const char* Sair = "Sai&r";
inline constexpr const char* TituloPrincipal = "Sistema de Eventos";
inline constexpr const char* Operador = "Operador: %1";
inline constexpr const char* Filial = "Filial: %1";
inline constexpr const char* Servidor = "Servidor: %1";
inline constexpr const char* Primeiro = "Primeiro";
inline constexpr const char* Anterior = "Anterior";
inline constexpr const char* Proximo = "Próximo";
inline constexpr const char* Ultimo = "Último";
inline constexpr const char* EscolherProduto = "Escolher o produto (Ctrl+Enter)";

// The report's print preview and its files.
inline constexpr const char* VisualizarImpressao = "Visualizar impressão - %1";
inline constexpr const char* SalvarPdf = "Salvar PDF";
inline constexpr const char* SalvarComoPdf = "Salvar como PDF";
inline constexpr const char* ExportarCsv = "Exportar CSV";
inline constexpr const char* ExportarLinhasCsv = "Exportar linhas (CSV)";
inline constexpr const char* ArquivoNaoGravado = "Não foi possível gravar o arquivo %1.";
inline constexpr const char* ImpressaoNaoIniciada = "Não foi possível imprimir o relatório.";

}  // namespace acerto::gui::texts
